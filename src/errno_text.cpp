#include "errno_text.hpp"

#include <cstring>

namespace quillfen {

std::string errno_name(int code) {
    const char* name = strerrorname_np(code);
    return name != nullptr ? name : "UnknownErrno";
}

std::string errno_full(int code) {
    const char* description = strerrordesc_np(code);
    return errno_name(code) + ": " + (description != nullptr ? description : "Unknown errno");
}

} // namespace quillfen
