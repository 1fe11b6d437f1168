// The argument and environment arrays that exec and posix_spawn take, pointing into `strings`
// (which must outlive them), ending with the null pointer.
#pragma once

#include <string>
#include <vector>

namespace quillfen::test {

inline std::vector<char*> exec_pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

} // namespace quillfen::test
