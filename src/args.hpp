// The command line: long options only, the level option and three flags.
// Help and version go to standard output (status 0), usage errors with the
// usage to standard error (status 2).
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "log.hpp"

namespace quillfen {

struct Args {
    Level log_level = Level::info;
    bool hide_timestamp = false;
    bool run_forked = true; // a flag that can only confirm its default
    bool log_clipboard_contents = false;
};

// What parsing ends the process with instead of running: help, version, or a
// usage error.
struct ParseExit {
    int status;     // 0 or 2
    bool to_stdout; // else standard error
    std::string text;
};

// Parses `arguments` (the program's path first) with help wrapped to `width`.
std::variant<Args, ParseExit> parse_args(std::span<const std::string_view> arguments,
                                         unsigned width);

// The help width: the terminal's (COLUMNS, else the width of the terminal on
// standard output, else 100), never wider than 120 columns.
unsigned help_width();

// Parses the process arguments; on help, version or a usage error prints the
// library's text and ends the process with its status.
Args parse_args_or_exit(int argc, char** argv);

} // namespace quillfen
