// Log level, the three process-wide log settings, the log statements and
// `concise_numbers`. A line is built only after the level has admitted it.
#pragma once

#include <fmt/format.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillfen {

enum class Level : std::uint8_t { fatal, error, warn, info, debug, trace };

// The command-line words of the levels, in the order of `Level`; the parser and the help text
// take them from here.
inline constexpr std::array<std::string_view, 6> level_names = {"fatal", "error", "warn",
                                                                "info",  "debug", "trace"};

// The command-line word of a level ("fatal" … "trace").
std::string_view level_name(Level level);
// The level a command-line word names, matched case-sensitively.
std::optional<Level> parse_level(std::string_view name);

namespace log {

// Each setting sits behind its own lock; set once at start-up, read by every line.
namespace level {
void set(Level value);
Level get();
} // namespace level

namespace timestamp {
void set(bool value);
bool get();
} // namespace timestamp

namespace log_sensitive_information {
void set(bool value);
bool get();
} // namespace log_sensitive_information

namespace detail {
// Reads the level setting; a fatal line is admitted at every level.
bool admits(Level line_level);
// Prints one finished line (timestamp, tag, message) with one write call.
void print(Level line_level, std::string_view message);
// Prints the contents line "Sensitive: <message>" at info. A clipboard text can come from anyone
// (a web page), so the message is kept to one line of plain text: \n, \r, \t and \\ for a
// backslash, \u{hex} for every other C0 control, DEL and C1 control, \x{hex} for each byte of an
// ill-formed UTF-8 sequence. Printable text of any script stays as it is.
void print_contents(std::string_view message);
// Writes `text` to standard error under its lock, ignoring failures; for the
// last words of a fatal condition.
void write_stderr_best_effort(std::string_view text);
// Puts /dev/null on each of descriptors 0 to 2 that is not open, so that no
// later socket or pipe takes number 1 or 2 and receives log lines; lines to
// such a stream vanish. Runs before main.
void fill_closed_standard_descriptors();
} // namespace detail

} // namespace log

// Compact text of a list of display numbers: "[0..3, 5]".
std::string concise_numbers(std::span<const std::uint8_t> numbers);

} // namespace quillfen

// Log statements with a {fmt} template. Arguments are evaluated only when the
// level admits the line.
#define QF_LOG_AT(line_level, ...)                                                                 \
    do {                                                                                           \
        if (::quillfen::log::detail::admits(line_level))                                           \
            ::quillfen::log::detail::print(line_level, ::fmt::format(__VA_ARGS__));                \
    } while (false)

#define QF_FATAL(...) QF_LOG_AT(::quillfen::Level::fatal, __VA_ARGS__)
#define QF_ERROR(...) QF_LOG_AT(::quillfen::Level::error, __VA_ARGS__)
#define QF_WARN(...) QF_LOG_AT(::quillfen::Level::warn, __VA_ARGS__)
#define QF_INFO(...) QF_LOG_AT(::quillfen::Level::info, __VA_ARGS__)
#define QF_DEBUG(...) QF_LOG_AT(::quillfen::Level::debug, __VA_ARGS__)

// The contents line: clipboard text reaches the log only when the contents
// setting is on and the level admits info; the level is not read otherwise.
#define QF_SENSITIVE(...)                                                                          \
    do {                                                                                           \
        if (::quillfen::log::log_sensitive_information::get() &&                                   \
            ::quillfen::log::detail::admits(::quillfen::Level::info))                              \
            ::quillfen::log::detail::print_contents(::fmt::format(__VA_ARGS__));                   \
    } while (false)
