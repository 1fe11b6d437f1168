// The module's five functions: their table and their bodies.
#pragma once

#include "function.hpp"

#include <array>

namespace zentorik {

enum FunctionIndex : int {
    linefunc_index,
    cast_point_to_fq12_index,
    miller_loop_index,
    pairing_index,
    final_exponentiate_index,
    function_count,
};

extern const std::array<FunctionSpec, function_count> function_specs;

// Bodies, in line_functions.cpp and pairing_functions.cpp.
PyObject* linefunc_body(const Function& self, PyObject* const* args);
PyObject* cast_point_to_fq12_body(const Function& self, PyObject* const* args);
PyObject* miller_loop_body(const Function& self, PyObject* const* args);
PyObject* pairing_body(const Function& self, PyObject* const* args);
PyObject* final_exponentiate_body(const Function& self, PyObject* const* args);

} // namespace zentorik
