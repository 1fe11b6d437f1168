// The command line as a user meets it: the built binary run with each kind of
// argument list, and the parsed values behind it.
#include <gtest/gtest.h>

#include <pty.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "args.hpp"
#include "tests/servers/child_process.hpp"
#include "tests/servers/display_namespace.hpp"
#include "tests/servers/watched_process.hpp"

namespace quillfen::test {
namespace {

// Runs the service with `arguments`; `environment` entries are set first.
RunResult run_quillfen(const std::vector<std::string>& arguments, ChildOptions options = {},
                       const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    options.default_sigpipe = true; // the binary must ignore SIGPIPE by itself
    return run_in_child(
        [&] {
            // A network namespace and a /run/user of its own where they can be had, so that
            // the service's one-per-user lock does not meet a service that runs beside this test.
            if (unshare(CLONE_NEWNET | CLONE_NEWNS) == 0 && mount_private_run_user().empty())
                unsetenv("XDG_RUNTIME_DIR");
            for (const auto& [name, value] : environment)
                setenv(name.c_str(), value.c_str(), 1);
            std::vector<char*> argv{const_cast<char*>(QUILLFEN_BINARY)};
            for (const auto& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execv(QUILLFEN_BINARY, argv.data());
            return 127;
        },
        options);
}

enum class Outcome {
    starts,         // logs its first line on standard output and runs
    starts_bare,    // the same, the line without a timestamp
    prints_help,    // help on standard output, status 0
    prints_version, // version on standard output, status 0
    usage_error,    // message and usage on standard error, status 2
};

struct CommandCase {
    const char* name;
    std::vector<std::string> arguments;
    Outcome outcome;
    std::string in_message = ""; // a text the usage error must contain
};
void PrintTo(const CommandCase& c, std::ostream* os) {
    *os << c.name;
}

class CommandLine : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandLine, StatusAndStreams) {
    const auto& c = GetParam();
    ChildOptions options;
    // A started service does not end by itself: stop it at its first line.
    options.stop_after_first_stdout_line =
        c.outcome == Outcome::starts || c.outcome == Outcome::starts_bare;
    const RunResult r = run_quillfen(c.arguments, options);
    ASSERT_FALSE(r.timed_out) << "stdout: " << r.out << "\nstderr: " << r.err;
    // The worker may log right after the supervisor's first line; only that first line is ours to
    // judge, and the worker's own lines (discovery warnings among them) belong to other tests.
    const std::string first_line = r.out.substr(0, r.out.find('\n') + 1);
    static const std::regex started(
        R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} -  INFO - started quillfen manager\n)");
    switch (c.outcome) {
    case Outcome::starts:
        EXPECT_TRUE(std::regex_match(first_line, started)) << r.out;
        EXPECT_EQ(r.err.find("Usage"), std::string::npos) << r.err;
        EXPECT_TRUE(r.stopped_after_line || r.exit_status == 0);
        break;
    case Outcome::starts_bare:
        EXPECT_EQ(first_line, " INFO - started quillfen manager\n");
        EXPECT_EQ(r.err.find("Usage"), std::string::npos) << r.err;
        EXPECT_TRUE(r.stopped_after_line || r.exit_status == 0);
        break;
    case Outcome::prints_help:
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_NE(r.out.find("Usage: quillfen [OPTIONS]"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("--log-clipboard-contents"), std::string::npos);
        EXPECT_EQ(r.out.find("started quillfen manager"), std::string::npos);
        EXPECT_EQ(r.err, "");
        break;
    case Outcome::prints_version:
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_EQ(r.out, "quillfen 0.2.0\n");
        EXPECT_EQ(r.err, "");
        break;
    case Outcome::usage_error:
        EXPECT_EQ(r.exit_status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.err.starts_with("error: ")) << r.err;
        EXPECT_NE(r.err.find("Usage: quillfen [OPTIONS]"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.in_message), std::string::npos) << r.err;
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLine,
    ::testing::Values(
        CommandCase{"NoArguments", {}, Outcome::starts},
        CommandCase{"LevelAsNextArgument", {"--log-level", "debug"}, Outcome::starts},
        CommandCase{"LevelAttached", {"--log-level=debug"}, Outcome::starts},
        CommandCase{"EveryFlagOnce",
                    {"--log-clipboard-contents", "--run-forked", "--log-level", "trace"},
                    Outcome::starts},
        CommandCase{"HideTimestamp", {"--hide-timestamp"}, Outcome::starts_bare},
        CommandCase{"LevelInCapitals", {"--log-level", "DEBUG"}, Outcome::usage_error},
        CommandCase{"LevelUnknownWord", {"--log-level=verbose"}, Outcome::usage_error},
        CommandCase{"LevelWithoutValue", {"--log-level"}, Outcome::usage_error, "LOG_LEVEL"},
        CommandCase{"LevelEmptyAttached", {"--log-level="}, Outcome::usage_error},
        CommandCase{"FlagWithFalse", {"--run-forked=false"}, Outcome::usage_error},
        CommandCase{"FlagWithTrue", {"--hide-timestamp=true"}, Outcome::usage_error},
        CommandCase{
            "LevelTwice", {"--log-level", "info", "--log-level=info"}, Outcome::usage_error},
        CommandCase{"FlagTwice", {"--run-forked", "--run-forked"}, Outcome::usage_error},
        CommandCase{"ContentsFlagTwice",
                    {"--log-clipboard-contents", "--log-clipboard-contents"},
                    Outcome::usage_error},
        CommandCase{"UnknownOption", {"--verbose"}, Outcome::usage_error},
        CommandCase{"ShortFormOfAnOption", {"-l", "debug"}, Outcome::usage_error},
        CommandCase{"Positional", {"extra"}, Outcome::usage_error, "extra"},
        CommandCase{"PositionalsInTheOrderGiven",
                    {"first", "second", "third"},
                    Outcome::usage_error,
                    "first second third"},
        CommandCase{"LongHelp", {"--help"}, Outcome::prints_help},
        CommandCase{"ShortHelp", {"-h"}, Outcome::prints_help},
        CommandCase{"HelpAmongOthers", {"--hide-timestamp", "--help"}, Outcome::prints_help},
        // Arguments are taken in the order given: what stands before help or version is
        // judged first, what follows is never looked at.
        CommandCase{"UnknownBeforeHelp", {"--bogus", "--help"}, Outcome::usage_error, "--bogus"},
        CommandCase{"UnknownBeforeVersion", {"--bogus", "-V"}, Outcome::usage_error, "--bogus"},
        CommandCase{"FlagValueBeforeHelp", {"--run-forked=false", "-h"}, Outcome::usage_error},
        CommandCase{"LevelWithoutValueBeforeHelp", {"--log-level", "--help"}, Outcome::usage_error},
        CommandCase{"UnknownAfterHelp", {"--help", "--bogus"}, Outcome::prints_help},
        CommandCase{"FlagValueAfterHelp", {"--help", "--run-forked=false"}, Outcome::prints_help},
        CommandCase{"UnknownAfterVersion", {"--version", "--bogus"}, Outcome::prints_version},
        CommandCase{"ValueOnShortHelp", {"-h=foo"}, Outcome::usage_error, "'foo'"},
        CommandCase{"ValueOnLongHelp", {"--help=foo"}, Outcome::usage_error, "'foo'"},
        CommandCase{"ValueOnShortVersion", {"-V=1"}, Outcome::usage_error, "'1'"},
        CommandCase{"LongVersion", {"--version"}, Outcome::prints_version},
        CommandCase{"ShortVersion", {"-V"}, Outcome::prints_version}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StartUp, ClosedStdoutLosesLinesAndRunsOn) {
    ChildOptions options;
    options.stdout_mode = StdoutMode::closed;
    options.timeout = std::chrono::seconds(2);
    const RunResult r = run_quillfen({}, options);
    // Either it finished its work or it is still running when stopped.
    EXPECT_TRUE(r.exit_status == 0 || r.timed_out)
        << "status " << r.exit_status.value_or(-1) << " signal " << r.signal.value_or(0);
    EXPECT_EQ(r.err.find("failed printing"), std::string::npos) << r.err;
}

TEST(StartUp, StdoutWithoutReaderEndsWith101) {
    ChildOptions options;
    options.stdout_mode = StdoutMode::broken_pipe;
    const RunResult r = run_quillfen({}, options);
    EXPECT_FALSE(r.signal.has_value()) << "ended by signal " << r.signal.value_or(0);
    EXPECT_EQ(r.exit_status, 101);
    EXPECT_EQ(r.err, "failed printing to stdout: Broken pipe (os error 32)\n");
}

const std::string about_text = " Synchronizes the clipboard across multiple X11 and wayland "
                               "instances running on the same machine. ";

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::size_t widest(const std::vector<std::string>& lines) {
    std::size_t width = 0;
    for (const auto& line : lines)
        width = std::max(width, line.size());
    return width;
}

// All words of the help, in order, whatever the wrapping.
std::string words_of(const std::string& text) {
    std::istringstream in(text);
    std::string words, word;
    while (in >> word)
        words += word + " ";
    return words;
}

TEST(Help, WrapsToTheWidthButNeverBeyond120) {
    const RunResult wide = run_quillfen({"--help"}, {}, {{"COLUMNS", "300"}});
    ASSERT_EQ(wide.exit_status, 0);
    const auto wide_lines = lines_of(wide.out);
    EXPECT_LE(widest(wide_lines), 120u);
    EXPECT_GT(widest(wide_lines), 100u) << "the room up to 120 columns is used";
    ASSERT_FALSE(wide_lines.empty());
    EXPECT_EQ(wide_lines[0], about_text) << "the about text keeps its blanks";

    const RunResult narrow = run_quillfen({"--help"}, {}, {{"COLUMNS", "50"}});
    ASSERT_EQ(narrow.exit_status, 0);
    EXPECT_LE(widest(lines_of(narrow.out)), 50u);
    EXPECT_EQ(words_of(narrow.out), words_of(wide.out)) << "wrapping loses or changes no word";
    for (const char* text :
         {"granularity to log", "[default: info]",
          "[possible values: fatal, error, warn, info, debug, trace]",
          "whether to include timestamps in the logs (systemd already includes timestamps so "
          "you'll want to enable this for systemd)",
          "whether to run the sync forked so the state can be cleaned up periodically. "
          "typically, this should be true",
          "when debug logging is enabled, it won't show clipboard contents, because clipboard "
          "contents are sensitive user information. but if you set this to true, in addition to "
          "enabling debug logging, then it will log the clipboard contents"})
        EXPECT_NE(words_of(wide.out).find(words_of(text)), std::string::npos) << text;
}

TEST(Help, FollowsTheTerminalWidth) {
    int master = -1;
    int slave = -1;
    winsize size{};
    size.ws_col = 64;
    size.ws_row = 40;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
    const UniqueFd terminal(master);
    UniqueFd their_terminal(slave);
    std::string out;
    std::optional<int> status;
    {
        // "COLUMNS" alone takes the variable out of the program's environment.
        WatchedProcess help({QUILLFEN_BINARY, "--help"},
                            {.environment = {"COLUMNS"}, .stdout_fd = their_terminal.get()});
        their_terminal.reset();
        char buffer[4096];
        for (ssize_t n; (n = read(terminal.get(), buffer, sizeof buffer)) > 0;)
            out.append(buffer, static_cast<std::size_t>(n));
        status = help.wait_exit(std::chrono::seconds(10));
    }
    ASSERT_TRUE(status);
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    const auto lines = lines_of(out);
    EXPECT_LE(widest(lines), 64u);
    EXPECT_GT(widest(lines), 50u);
}

TEST(Help, IsThisTextToTheByte) {
    const std::vector<std::string_view> arguments{"quillfen", "--help"};
    const auto result = parse_args(arguments, 100);
    ASSERT_TRUE(std::holds_alternative<ParseExit>(result));
    const auto& exit = std::get<ParseExit>(result);
    EXPECT_EQ(exit.status, 0);
    EXPECT_TRUE(exit.to_stdout);
    EXPECT_EQ(exit.text, about_text + R"(

Usage: quillfen [OPTIONS]

Options:
      --log-level <LOG_LEVEL>
          granularity to log [default: info] [possible values: fatal, error, warn, info, debug,
          trace]

      --hide-timestamp
          whether to include timestamps in the logs (systemd already includes timestamps so you'll
          want to enable this for systemd)

      --run-forked
          whether to run the sync forked so the state can be cleaned up periodically. typically,
          this should be true

      --log-clipboard-contents
          when debug logging is enabled, it won't show clipboard contents, because clipboard
          contents are sensitive user information. but if you set this to true, in addition to
          enabling debug logging, then it will log the clipboard contents

  -h, --help
          Print help

  -V, --version
          Print version
)");
}

struct ParseCase {
    const char* name;
    std::vector<std::string_view> arguments;
    Level level;
    bool hide_timestamp;
    bool log_clipboard_contents;
};
void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

class ParsedValues : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParsedValues, AreTheGivenOrTheDefaults) {
    const auto& c = GetParam();
    std::vector<std::string_view> arguments{"quillfen"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const auto result = parse_args(arguments, 100);
    ASSERT_TRUE(std::holds_alternative<Args>(result)) << std::get<ParseExit>(result).text;
    const auto& args = std::get<Args>(result);
    EXPECT_EQ(args.log_level, c.level);
    EXPECT_EQ(args.hide_timestamp, c.hide_timestamp);
    EXPECT_TRUE(args.run_forked);
    EXPECT_EQ(args.log_clipboard_contents, c.log_clipboard_contents);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ParsedValues,
    ::testing::Values(ParseCase{"Defaults", {}, Level::info, false, false},
                      ParseCase{"LevelNext", {"--log-level", "debug"}, Level::debug, false, false},
                      ParseCase{"LevelAttached", {"--log-level=fatal"}, Level::fatal, false, false},
                      ParseCase{"EachLevel", {"--log-level", "warn"}, Level::warn, false, false},
                      ParseCase{"Trace", {"--log-level=trace"}, Level::trace, false, false},
                      ParseCase{"HideTimestamp", {"--hide-timestamp"}, Level::info, true, false},
                      ParseCase{"RunForked", {"--run-forked"}, Level::info, false, false},
                      ParseCase{"Contents", {"--log-clipboard-contents"}, Level::info, false, true},
                      ParseCase{"All",
                                {"--log-clipboard-contents", "--log-level", "error",
                                 "--hide-timestamp", "--run-forked"},
                                Level::error,
                                true,
                                true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillfen::test
