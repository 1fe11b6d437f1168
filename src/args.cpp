#include "args.hpp"

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <vector>

#include "util/fd_io.hpp"

namespace quillfen {

namespace {

constexpr std::string_view program = "quillfen";
// Set by the build from the project's version.
constexpr std::string_view version = QUILLFEN_VERSION;
constexpr std::string_view about =
    " Synchronizes the clipboard across multiple X11 and wayland instances running on the same "
    "machine. ";
constexpr std::string_view usage = "Usage: quillfen [OPTIONS]";
constexpr unsigned widest_help = 120;
constexpr unsigned help_indent = 10;

// What an option does: sets the level, sets a flag of `Args`, or is one of the two the library
// adds.
enum class Kind { level, flag, help, version };

struct Option {
    std::string_view name;
    std::string_view short_name; // empty: none
    Kind kind;
    std::string_view help;
    bool Args::*flag = nullptr; // for Kind::flag
};

// Every option, in the order the help lists them: that of `Args`, then the library's two.
constexpr Option options[] = {
    {"--log-level", "", Kind::level, "granularity to log"},
    {"--hide-timestamp", "", Kind::flag,
     "whether to include timestamps in the logs (systemd already includes timestamps so you'll "
     "want to enable this for systemd)",
     &Args::hide_timestamp},
    {"--run-forked", "", Kind::flag,
     "whether to run the sync forked so the state can be cleaned up periodically. typically, this "
     "should be true",
     &Args::run_forked},
    {"--log-clipboard-contents", "", Kind::flag,
     "when debug logging is enabled, it won't show clipboard contents, because clipboard contents "
     "are sensitive user information. but if you set this to true, in addition to enabling debug "
     "logging, then it will log the clipboard contents",
     &Args::log_clipboard_contents},
    {"--help", "-h", Kind::help, "Print help"},
    {"--version", "-V", Kind::version, "Print version"},
};

constexpr std::string_view level_value_name = "LOG_LEVEL";

// The names as the help shows them, short ones aligned with the long names' column.
std::string shown_names(const Option& option) {
    std::string names = option.short_name.empty()
                            ? fmt::format("      {}", option.name)
                            : fmt::format("  {}, {}", option.short_name, option.name);
    if (option.kind == Kind::level)
        names += fmt::format(" <{}>", level_value_name);
    return names;
}

std::string shown_help(const Option& option) {
    if (option.kind != Kind::level)
        return std::string(option.help);
    return fmt::format("{} [default: {}] [possible values: {}]", option.help,
                       level_name(Args{}.log_level), fmt::join(level_names, ", "));
}

// The names as the library takes them, e.g. "-h,--help".
std::string library_names(const Option& option) {
    if (option.short_name.empty())
        return std::string(option.name);
    return fmt::format("{},{}", option.short_name, option.name);
}

// Help and version, which the library adds.
bool library_own(const Option& option) {
    return option.kind == Kind::help || option.kind == Kind::version;
}

bool spelled(const Option& option, std::string_view argument) {
    return argument == option.name || (!option.short_name.empty() && argument == option.short_name);
}

// Help or version, when `argument` asks for one of them.
std::optional<Kind> request_of(std::string_view argument) {
    for (const Option& option : options)
        if (library_own(option) && spelled(option, argument))
            return option.kind;
    return std::nullopt;
}

// Greedy word wrap that breaks only at a blank followed by more text, so the
// blanks at both ends of a text stay where they are.
void append_wrapped(std::string& out, std::string_view text, unsigned indent, unsigned width) {
    const std::size_t room = width > indent ? width - indent : 1;
    while (!text.empty()) {
        std::size_t cut = text.size();
        if (text.size() > room) {
            cut = std::string_view::npos;
            for (std::size_t i = 1; i < text.size(); ++i) {
                const bool breakable = text[i] == ' ' && i + 1 < text.size() && text[i + 1] != ' ';
                if (!breakable)
                    continue;
                if (i <= room || cut == std::string_view::npos)
                    cut = i;
                if (i > room)
                    break;
            }
            if (cut == std::string_view::npos)
                cut = text.size();
        }
        out.append(indent, ' ');
        out.append(text.substr(0, cut));
        out.push_back('\n');
        text.remove_prefix(cut);
        if (!text.empty())
            text.remove_prefix(1); // the blank the line broke at
    }
}

std::string help_text(unsigned width) {
    std::string out;
    append_wrapped(out, about, 0, width);
    out += "\n";
    out += usage;
    out += "\n\nOptions:\n";
    bool first = true;
    for (const Option& option : options) {
        if (!first)
            out += "\n";
        first = false;
        out += shown_names(option);
        out += "\n";
        append_wrapped(out, shown_help(option), help_indent, width);
    }
    return out;
}

ParseExit usage_error(std::string_view message) {
    return ParseExit{
        2, false,
        fmt::format("error: {}\n\n{}\n\nFor more information, try '--help'.\n", message, usage)};
}

// A value attached to a flag ("--run-forked=false", even "=true", "-h=foo") is
// refused before the library sees it, which would accept some of them.
std::optional<ParseExit> refuse_flag_values(std::span<const std::string_view> arguments) {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (argument == "--")
            break;
        for (const Option& option : options) {
            if (option.kind == Kind::level) // the one that takes a value
                continue;
            for (std::string_view flag : {option.name, option.short_name}) {
                const std::string prefix = fmt::format("{}=", flag);
                if (!flag.empty() && argument.starts_with(prefix))
                    return usage_error(fmt::format("unexpected value '{}' for '{}' found; no "
                                                   "more were expected",
                                                   argument.substr(prefix.size()), flag));
            }
        }
    }
    return std::nullopt;
}

// The library lists the arguments it did not expect last one first.
std::string not_expected(const std::vector<std::string>& rest) {
    return fmt::format("The following argument{} not expected: {}",
                       rest.size() > 1 ? "s were" : " was", fmt::join(rest, " "));
}

void register_option(CLI::App& app, const Option& option, Args& args, std::string& level_text) {
    const std::string names = library_names(option);
    const std::string help(option.help);
    switch (option.kind) {
    case Kind::level:
        // Named as the help names it; the values' list would otherwise join the name.
        app.add_option(names, level_text, help)
            ->type_name(std::string(level_value_name))
            ->check(CLI::IsMember(std::vector<std::string>(level_names.begin(), level_names.end()))
                        .description(""))
            ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
        break;
    case Kind::flag:
        app.add_flag(names, args.*option.flag, help)
            ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
        break;
    case Kind::help:
        app.set_help_flag(names, help);
        break;
    case Kind::version:
        app.set_version_flag(names, fmt::format("{} {}", program, version), help);
        break;
    }
}

// The library runs the options' callbacks in the order they were added and reports the first
// that fails, so its own two go first, as it has them before any other.
void register_options(CLI::App& app, Args& args, std::string& level_text) {
    for (const Option& option : options)
        if (library_own(option))
            register_option(app, option, args, level_text);
    for (const Option& option : options)
        if (!library_own(option))
            register_option(app, option, args, level_text);
}

} // namespace

std::variant<Args, ParseExit> parse_args(std::span<const std::string_view> arguments,
                                         unsigned width) {
    // Arguments are taken in the order given: help or version ends the parse where it
    // stands, so only the arguments before it can be a usage error.
    std::optional<Kind> request;
    std::size_t end = 1;
    for (; end < arguments.size() && arguments[end] != "--"; ++end)
        if ((request = request_of(arguments[end])))
            break;
    if (!request)
        end = arguments.size();
    arguments = arguments.first(end);

    if (auto refused = refuse_flag_values(arguments))
        return *refused;

    Args args;
    std::string level_text(level_name(args.log_level));
    CLI::App app{std::string(about), std::string(program)};
    register_options(app, args, level_text);

    // The library wants the arguments after the program name, last one first.
    std::vector<std::string> reversed;
    for (std::size_t i = arguments.size(); i > 1; --i)
        reversed.emplace_back(arguments[i - 1]);
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return ParseExit{0, true, help_text(width)};
    } catch (const CLI::CallForAllHelp&) {
        return ParseExit{0, true, help_text(width)};
    } catch (const CLI::CallForVersion& e) {
        return ParseExit{0, true, std::string(e.what()) + "\n"};
    } catch (const CLI::ExtrasError&) {
        return usage_error(not_expected(app.remaining()));
    } catch (const CLI::ParseError& e) {
        return usage_error(e.what());
    }
    if (request == Kind::help)
        return ParseExit{0, true, help_text(width)};
    if (request == Kind::version)
        return ParseExit{0, true, fmt::format("{} {}\n", program, version)};
    args.log_level = *parse_level(level_text);
    args.run_forked = true;
    return args;
}

unsigned help_width() {
    unsigned width = 0;
    if (const char* columns = std::getenv("COLUMNS")) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(columns, &end, 10);
        if (end != columns && *end == '\0' && value > 0 && value < 100000)
            width = static_cast<unsigned>(value);
    }
    winsize size{};
    if (width == 0 && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        width = size.ws_col;
    if (width == 0)
        width = 100;
    return std::min(width, widest_help);
}

Args parse_args_or_exit(int argc, char** argv) {
    std::vector<std::string_view> arguments(argv, argv + argc);
    auto result = parse_args(arguments, help_width());
    if (auto* args = std::get_if<Args>(&result))
        return *args;
    const auto& exit = std::get<ParseExit>(result);
    const int fd = exit.to_stdout ? STDOUT_FILENO : STDERR_FILENO;
    // Nothing is left to tell a failed write to.
    (void)util::write_all(fd, exit.text);
    _exit(exit.status);
}

} // namespace quillfen
