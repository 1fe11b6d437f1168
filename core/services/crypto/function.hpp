// The one function type of the module's five functions: fast calls with keyword names,
// argument binding with its error texts, code objects and traceback entries.
#pragma once

#include <span>

#include "py_ref.hpp"

namespace zentorik {

struct Function;

// A function body. `args` holds the bound parameters in declaration order, borrowed from
// the caller for the duration of the call. Returns a new reference, or null with the
// exception set (and, where the body's error gets one, its traceback entry added).
using Body = PyObject* (*)(const Function& self, PyObject* const* args);

// Fixed description of one module function.
struct FunctionSpec {
    const char* name;
    std::span<const char* const> parameters;
    std::span<const char* const> annotations; // one text per parameter
    const char* return_annotation;
    const char* doc;                       // null: no docstring
    int line;                              // definition line
    const char* traceback_name;            // "zentorik.<name>"
    const char* recursion_where;           // " in <name>", ending the RecursionError's text
    std::span<const char* const> varnames; // parameters first
    Body body;
};

inline constexpr int max_parameters = 3;

struct Function {
    PyObject_HEAD vectorcallfunc vectorcall;
    const FunctionSpec* spec;
    PyObject* name;
    PyObject* qualname;
    PyObject* module;
    PyObject* doc;
    PyObject* annotations;
    PyObject* globals;
    PyObject* code;
    PyObject* parameters; // tuple of the parameter names, for keyword binding
    PyObject* dict;

    PyObject* module_globals() const { return globals; }
    // Adds this function's traceback entry at `line` to the pending exception and returns
    // null, so that a body can write `return self.fail(53);`.
    PyObject* fail(int line) const;
};

// The exact-tuple test of a point argument: true when `argument`'s type is tuple itself.
// Otherwise raises TypeError naming `parameter` (with a note for a tuple subclass) and adds
// no traceback entry: the error belongs to the call itself.
bool is_exact_tuple_argument(PyObject* argument, const char* parameter);

// Unpacks a point that passed the exact-tuple test into its two coordinates. On a wrong
// length raises ValueError with `self`'s traceback entry at `line` and returns false.
bool unpack_point(const Function& self, PyObject* point, int line, Ref& first, Ref& second);

// Readies the function type once per process. Returns false with an exception set.
bool ready_function_type();

// Makes the code object of `spec` (names, file name, first line, counts, flags, locals).
Ref make_code(const FunctionSpec& spec);

// Makes the function object of `spec` with its annotations dict, the module namespace as
// globals and `code` as its code object.
Ref make_function(const FunctionSpec& spec, PyObject* globals, PyObject* code);

} // namespace zentorik
