#include "function.hpp"

#include <cstddef>

#include "module_state.hpp"
#include "traceback.hpp"

namespace zentorik {

PyObject* Function::fail(int line) const {
    add_traceback(spec->traceback_name, line, globals);
    return nullptr;
}

bool is_exact_tuple_argument(PyObject* argument, const char* parameter) {
    if (PyTuple_CheckExact(argument))
        return true;
    PyErr_Format(PyExc_TypeError,
                 "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", parameter,
                 PyTuple_Type.tp_name, Py_TYPE(argument)->tp_name);
    if (PyTuple_Check(argument)) {
        Ref error = Ref::steal(PyErr_GetRaisedException());
        Ref note =
            Ref::steal(PyUnicode_FromString("Subclasses of built-in types are not accepted here."));
        Ref added =
            note ? Ref::steal(PyObject_CallMethodOneArg(error.get(), names().add_note, note.get()))
                 : Ref();
        if (added) {
            PyErr_SetRaisedException(error.release());
        } // otherwise the failure to add the note is what the caller sees
    }
    return false;
}

bool unpack_point(const Function& self, PyObject* point, int line, Ref& first, Ref& second) {
    const Py_ssize_t size = PyTuple_GET_SIZE(point);
    if (size == 2) {
        first = Ref::borrow(PyTuple_GET_ITEM(point, 0));
        second = Ref::borrow(PyTuple_GET_ITEM(point, 1));
        return true;
    }
    if (size > 2) {
        PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", Py_ssize_t{2});
    } else {
        PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", size,
                     size == 1 ? "" : "s");
    }
    self.fail(line);
    return false;
}

namespace {

// ----- argument binding ---------------------------------------------------------------

PyObject* count_error(const Function& f, Py_ssize_t given) {
    const Py_ssize_t expected = static_cast<Py_ssize_t>(f.spec->parameters.size());
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 f.spec->name, "exactly", expected, expected == 1 ? "" : "s", given);
    return f.fail(f.spec->line);
}

bool same_text(PyObject* keyword, PyObject* parameter) {
    return keyword == parameter || PyUnicode_Compare(keyword, parameter) == 0;
}

// Fills `bound` with the parameters in declaration order. Returns false with the
// exception and the traceback entry at the definition line.
bool bind_arguments(const Function& f, PyObject* const* args, Py_ssize_t positional,
                    PyObject* kwnames, PyObject** bound) {
    const Py_ssize_t count = static_cast<Py_ssize_t>(f.spec->parameters.size());
    const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    if (keywords == 0) {
        if (positional != count) {
            count_error(f, positional);
            return false;
        }
        for (Py_ssize_t i = 0; i < count; ++i)
            bound[i] = args[i];
        return true;
    }
    if (positional > count) {
        count_error(f, positional);
        return false;
    }
    for (Py_ssize_t i = 0; i < positional; ++i)
        bound[i] = args[i];
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(keyword)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", f.spec->name);
            f.fail(f.spec->line);
            return false;
        }
        Py_ssize_t index = 0;
        while (index < count && !same_text(keyword, PyTuple_GET_ITEM(f.parameters, index)))
            ++index;
        if (index < count && index >= positional) {
            bound[index] = args[positional + k];
        } else if (index < count) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                         f.spec->name, keyword);
            f.fail(f.spec->line);
            return false;
        } else {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                         f.spec->name, keyword);
            f.fail(f.spec->line);
            return false;
        }
    }
    Py_ssize_t filled = 0;
    while (filled < count && bound[filled] != nullptr)
        ++filled;
    if (filled < count) {
        count_error(f, filled);
        return false;
    }
    return true;
}

// One level of the interpreter's recursion depth, held for as long as the guard lives.
class RecursionGuard {
  public:
    explicit RecursionGuard(const char* where) : entered_(Py_EnterRecursiveCall(where) == 0) {}
    ~RecursionGuard() {
        if (entered_)
            Py_LeaveRecursiveCall();
    }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;

    // False when the limit refused the level, with RecursionError set.
    explicit operator bool() const { return entered_; }

  private:
    bool entered_;
};

PyObject* function_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                              PyObject* kwnames) {
    const auto& f = *reinterpret_cast<Function*>(callable);
    PyObject* bound[max_parameters] = {};
    if (!bind_arguments(f, args, PyVectorcall_NARGS(nargsf), kwnames, bound))
        return nullptr;
    // A vectorcall gets no depth check from the interpreter: like a Python frame, the body
    // counts itself, so that re-entry through C-level callables alone cannot overflow the
    // C stack. A refused level is an error of the call itself, reported at the definition.
    const RecursionGuard level(f.spec->recursion_where);
    if (!level)
        return f.fail(f.spec->line);
    return f.spec->body(f, bound);
}

// ----- the type -----------------------------------------------------------------------

Function* as_function(PyObject* self) {
    return reinterpret_cast<Function*>(self);
}

int function_traverse(PyObject* self, visitproc visit, void* arg) {
    Function* f = as_function(self);
    Py_VISIT(f->name);
    Py_VISIT(f->qualname);
    Py_VISIT(f->module);
    Py_VISIT(f->doc);
    Py_VISIT(f->annotations);
    Py_VISIT(f->globals);
    Py_VISIT(f->code);
    Py_VISIT(f->parameters);
    Py_VISIT(f->dict);
    return 0;
}

int function_clear(PyObject* self) {
    Function* f = as_function(self);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->annotations);
    Py_CLEAR(f->globals);
    Py_CLEAR(f->code);
    Py_CLEAR(f->parameters);
    Py_CLEAR(f->dict);
    return 0;
}

void function_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    function_clear(self);
    PyObject_GC_Del(self);
}

PyObject* function_repr(PyObject* self) {
    return PyUnicode_FromFormat("<zentorik function %U at %p>", as_function(self)->qualname, self);
}

PyObject* none_getter(PyObject*, void*) {
    Py_RETURN_NONE;
}

PyObject* doc_getter(PyObject* self, void*) {
    return Py_NewRef(as_function(self)->doc);
}

PyObject* annotations_getter(PyObject* self, void*) {
    return Py_NewRef(as_function(self)->annotations);
}

// Pickling and copying refer to the function by its qualified name in its module.
PyObject* function_reduce(PyObject* self, PyObject*) {
    return Py_NewRef(as_function(self)->qualname);
}

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef function_members[] = {
    {"__name__", Py_T_OBJECT_EX, offsetof(Function, name), Py_READONLY, nullptr},
    {"__qualname__", Py_T_OBJECT_EX, offsetof(Function, qualname), Py_READONLY, nullptr},
    {"__module__", Py_T_OBJECT_EX, offsetof(Function, module), Py_READONLY, nullptr},
    {"__globals__", Py_T_OBJECT_EX, offsetof(Function, globals), Py_READONLY, nullptr},
    {"__code__", Py_T_OBJECT_EX, offsetof(Function, code), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef function_getset[] = {
    {"__doc__", doc_getter, nullptr, nullptr, nullptr},
    {"__annotations__", annotations_getter, nullptr, nullptr, nullptr},
    {"__defaults__", none_getter, nullptr, nullptr, nullptr},
    {"__kwdefaults__", none_getter, nullptr, nullptr, nullptr},
    {"__closure__", none_getter, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// A static type: it lives as long as the process, like the functions made from it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PyTypeObject function_type = {PyVarObject_HEAD_INIT(nullptr, 0)};
#pragma GCC diagnostic pop

} // namespace

bool ready_function_type() {
    if (function_type.tp_flags & Py_TPFLAGS_READY)
        return true;
    function_type.tp_name = "zentorik.function";
    function_type.tp_basicsize = sizeof(Function);
    function_type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
                             Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION;
    function_type.tp_vectorcall_offset = offsetof(Function, vectorcall);
    function_type.tp_dictoffset = offsetof(Function, dict);
    function_type.tp_call = PyVectorcall_Call;
    function_type.tp_dealloc = function_dealloc;
    function_type.tp_traverse = function_traverse;
    function_type.tp_clear = function_clear;
    function_type.tp_repr = function_repr;
    function_type.tp_methods = function_methods;
    function_type.tp_members = function_members;
    function_type.tp_getset = function_getset;
    return PyType_Ready(&function_type) == 0;
}

namespace {

Ref tuple_of_texts(std::span<const char* const> texts) {
    Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(texts.size())));
    if (!tuple)
        return {};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        PyObject* text = PyUnicode_InternFromString(texts[i]);
        if (text == nullptr)
            return {};
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), text);
    }
    return tuple;
}

bool set_item(PyObject* dict, const char* key, PyObject* value) {
    return value != nullptr && PyDict_SetItemString(dict, key, value) == 0;
}

} // namespace

Ref make_code(const FunctionSpec& spec) {
    // The bytecode never runs; an empty code object supplies valid bytecode and line
    // table, and `replace` gives it the function's counts, flags and local names.
    Ref empty = Ref::steal(
        reinterpret_cast<PyObject*>(PyCode_NewEmpty(source_file_name, spec.name, spec.line)));
    Ref varnames = tuple_of_texts(spec.varnames);
    Ref replace = empty ? Ref::steal(PyObject_GetAttrString(empty.get(), "replace")) : Ref();
    Ref no_args = Ref::steal(PyTuple_New(0));
    Ref changes = Ref::steal(PyDict_New());
    if (!varnames || !replace || !no_args || !changes)
        return {};
    const auto argcount = static_cast<long>(spec.parameters.size());
    const auto nlocals = static_cast<long>(spec.varnames.size());
    if (!set_item(changes.get(), "co_argcount", Ref::steal(PyLong_FromLong(argcount)).get()) ||
        !set_item(changes.get(), "co_nlocals", Ref::steal(PyLong_FromLong(nlocals)).get()) ||
        !set_item(changes.get(), "co_flags",
                  Ref::steal(PyLong_FromLong(CO_OPTIMIZED | CO_NEWLOCALS)).get()) ||
        !set_item(changes.get(), "co_varnames", varnames.get()))
        return {};
    return Ref::steal(PyObject_Call(replace.get(), no_args.get(), changes.get()));
}

Ref make_function(const FunctionSpec& spec, PyObject* globals, PyObject* code) {
    Ref annotations = Ref::steal(PyDict_New());
    if (!annotations)
        return {};
    for (std::size_t i = 0; i < spec.parameters.size(); ++i)
        if (!set_item(annotations.get(), spec.parameters[i],
                      Ref::steal(PyUnicode_FromString(spec.annotations[i])).get()))
            return {};
    if (!set_item(annotations.get(), "return",
                  Ref::steal(PyUnicode_FromString(spec.return_annotation)).get()))
        return {};
    Ref name = Ref::steal(PyUnicode_InternFromString(spec.name));
    Ref module = Ref::steal(PyUnicode_InternFromString("zentorik"));
    Ref doc =
        spec.doc == nullptr ? Ref::borrow(Py_None) : Ref::steal(PyUnicode_FromString(spec.doc));
    Ref parameters = tuple_of_texts(spec.parameters);
    if (!name || !module || !doc || !parameters)
        return {};
    auto* f = PyObject_GC_New(Function, &function_type);
    if (f == nullptr)
        return {};
    f->vectorcall = function_vectorcall;
    f->spec = &spec;
    f->name = Py_NewRef(name.get());
    f->qualname = name.release();
    f->module = module.release();
    f->doc = doc.release();
    f->annotations = annotations.release();
    f->globals = Py_NewRef(globals);
    f->code = Py_NewRef(code);
    f->parameters = parameters.release();
    f->dict = nullptr;
    PyObject_GC_Track(f);
    return Ref::steal(reinterpret_cast<PyObject*>(f));
}

} // namespace zentorik
