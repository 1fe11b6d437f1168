// miller_loop, pairing and final_exponentiate.
//
// Helpers for the bodies (arguments arrive bound, in parameter order, borrowed):
// - lookup(self.module_globals(), names().FQ12) reads a module-level name by the lookup
//   rule (namespace, builtins, NameError) and returns a Ref; call it at every use.
//   names() (module_state.hpp) holds every name the module reads, e.g. names().double_.
// - constants() holds the integers made once at import: one, twelve, loop_count, ...
// - return self.fail(line) adds the "zentorik.<name>" traceback entry at `line` to the
//   pending exception and returns null.
// - Calls go through the C API on the looked-up objects (PyObject_Vectorcall,
//   PyObject_CallNoArgs, PyNumber_*); Ref::steal takes over each new reference.
#include "functions.hpp"
#include "module_state.hpp"

namespace zentorik {

namespace {

PyObject* not_implemented(const Function& self) {
    PyErr_Format(PyExc_NotImplementedError, "%s() is not implemented yet", self.spec->name);
    return nullptr;
}

} // namespace

PyObject* miller_loop_body(const Function& self, PyObject* const*) {
    return not_implemented(self);
}

PyObject* pairing_body(const Function& self, PyObject* const*) {
    return not_implemented(self);
}

PyObject* final_exponentiate_body(const Function& self, PyObject* const*) {
    return not_implemented(self);
}

} // namespace zentorik
