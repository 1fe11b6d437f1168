// Process-wide values of the module: the names it reads, the integer constants its
// code reuses, and the lookup rule by which every module-level name is read.
#pragma once

#include "py_ref.hpp"

namespace zentorik {

// Every module-level name the import-time code and the functions read or bind, plus the
// attribute names they use, made once as interned str objects: a lookup is one dict access,
// and the interpreter's attribute cache sees one name object, not a new one per call.
#define ZENTORIK_NAMES(X)                                                                          \
    X(FQ, "FQ")                                                                                    \
    X(FQ2, "FQ2")                                                                                  \
    X(FQ12, "FQ12")                                                                                \
    X(field_properties, "field_properties")                                                        \
    X(G1, "G1")                                                                                    \
    X(add, "add")                                                                                  \
    X(b, "b")                                                                                      \
    X(b2, "b2")                                                                                    \
    X(curve_order, "curve_order")                                                                  \
    X(double_, "double")                                                                           \
    X(is_on_curve, "is_on_curve")                                                                  \
    X(multiply, "multiply")                                                                        \
    X(twist, "twist")                                                                              \
    X(field_modulus, "field_modulus")                                                              \
    X(ate_loop_count, "ate_loop_count")                                                            \
    X(log_ate_loop_count, "log_ate_loop_count")                                                    \
    X(linefunc, "linefunc")                                                                        \
    X(cast_point_to_fq12, "cast_point_to_fq12")                                                    \
    X(one, "one")                                                                                  \
    X(two, "two")                                                                                  \
    X(three, "three")                                                                              \
    X(negone, "negone")                                                                            \
    X(negtwo, "negtwo")                                                                            \
    X(negthree, "negthree")                                                                        \
    X(conditions, "conditions")                                                                    \
    X(miller_loop, "miller_loop")                                                                  \
    X(pairing, "pairing")                                                                          \
    X(final_exponentiate, "final_exponentiate")                                                    \
    X(all, "all")                                                                                  \
    X(n, "n")                                                                                      \
    X(add_note, "add_note")

struct Names {
#define ZENTORIK_NAME_MEMBER(id, text) PyObject* id = nullptr;
    ZENTORIK_NAMES(ZENTORIK_NAME_MEMBER)
#undef ZENTORIK_NAME_MEMBER
};

// The Python integers the module's code uses, made once and reused by every call.
struct Constants {
    PyObject* zero = nullptr;
    PyObject* one = nullptr;
    PyObject* two = nullptr;
    PyObject* three = nullptr;
    PyObject* twelve = nullptr;
    PyObject* sixty_two = nullptr;
    PyObject* loop_count = nullptr; // 0xD201000000010000
};

// Both are filled by the exec slot before any function object exists and are never
// released; callers borrow.
const Names& names();
const Constants& constants();

// Reads a module-level name: the module namespace `globals`, else the builtins module,
// else NameError. Returns a new reference, or null with the exception set.
Ref lookup(PyObject* globals, PyObject* name);

} // namespace zentorik
