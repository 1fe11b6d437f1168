// The bodies of linefunc and cast_point_to_fq12.
#pragma once

#include "function.hpp"

namespace zentorik {

PyObject* linefunc_body(const Function& self, PyObject* const* args);
PyObject* cast_point_to_fq12_body(const Function& self, PyObject* const* args);

} // namespace zentorik
