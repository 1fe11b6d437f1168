#include "util/errno_text.hpp"

#include <cstring>

namespace util {

std::string errno_name(int code) {
    const char* name = strerrorname_np(code);
    return name != nullptr ? name : "UnknownErrno";
}

std::string errno_full(int code) {
    const char* description = strerrordesc_np(code);
    return errno_name(code) + ": " + (description != nullptr ? description : "Unknown errno");
}

std::string errno_description(int code) {
    if (const char* description = strerrordesc_np(code))
        return description;
    return "Unknown error " + std::to_string(code);
}

std::string os_error_text(int code) {
    return errno_description(code) + " (os error " + std::to_string(code) + ")";
}

} // namespace util
