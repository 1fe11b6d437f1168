// The table of the module's five functions, in the order the import creates them.
#pragma once

#include <array>

#include "function.hpp"

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

} // namespace zentorik
