#pragma once
// Texts of error numbers as the supervisor and its timers print them.

#include <string>

namespace quillfen {

// The symbolic name alone, e.g. "ECHILD".
std::string errno_name(int code);

// The symbolic name and the description, e.g. "ECHILD: No child processes".
std::string errno_full(int code);

} // namespace quillfen
