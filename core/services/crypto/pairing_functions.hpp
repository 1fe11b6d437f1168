// The bodies of miller_loop, pairing and final_exponentiate.
#pragma once

#include "function.hpp"

namespace zentorik {

PyObject* miller_loop_body(const Function& self, PyObject* const* args);
PyObject* pairing_body(const Function& self, PyObject* const* args);
PyObject* final_exponentiate_body(const Function& self, PyObject* const* args);

} // namespace zentorik
