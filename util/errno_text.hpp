// Texts of error numbers, as the service's log lines and error texts print them.
#pragma once

#include <string>

namespace util {

// The symbolic name alone, e.g. "ECHILD".
std::string errno_name(int code);

// The symbolic name and the description, e.g. "ECHILD: No child processes".
std::string errno_full(int code);

// The description alone, e.g. "No child processes"; "Unknown error 4000" for a number without one.
std::string errno_description(int code);

// The description and the number, e.g. "Broken pipe (os error 32)".
std::string os_error_text(int code);

} // namespace util
