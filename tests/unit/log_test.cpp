// Log lines as a service manager receives them: format, level gating, streams,
// the contents line, and what happens when a stream cannot be written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "fatal.hpp"
#include "log.hpp"
#include "tests/servers/child_process.hpp"
#include "tests/servers/process_state.hpp"

namespace quillfen::test {
namespace {

void settings(Level level, bool timestamp, bool sensitive = false) {
    log::level::set(level);
    log::timestamp::set(timestamp);
    log::log_sensitive_information::set(sensitive);
}

// One statement of each level, in a fixed order.
void log_each_level() {
    QF_FATAL("{} line", "fatal");
    QF_ERROR("{} line", "error");
    QF_WARN("{} line", "warn");
    QF_INFO("{} line", "info");
    QF_DEBUG("{} line", "debug");
}

struct FormatCase {
    const char* name;
    bool timestamp;
    std::string out; // expected standard output, timestamps replaced by T
    std::string err;
};
void PrintTo(const FormatCase& c, std::ostream* os) {
    *os << c.name;
}

class LineFormat : public ::testing::TestWithParam<FormatCase> {};

// Replaces every leading "YYYY-MM-DD HH:MM:SS" by T so lines compare exactly.
std::string mask_timestamps(const std::string& text) {
    static const std::regex stamp(R"((^|\n)\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})");
    return std::regex_replace(text, stamp, "$1T");
}

TEST_P(LineFormat, EachLevelOnItsStream) {
    const auto& c = GetParam();
    const RunResult r = run_in_child([&] {
        settings(Level::debug, c.timestamp);
        log_each_level();
        return 0;
    });
    ASSERT_EQ(r.exit_status, 0);
    EXPECT_EQ(mask_timestamps(r.out), c.out);
    EXPECT_EQ(mask_timestamps(r.err), c.err);
}

INSTANTIATE_TEST_SUITE_P(
    Timestamps, LineFormat,
    ::testing::Values(
        FormatCase{"WithTimestamp", true, "T -  INFO - info line\nT - DEBUG - debug line\n",
                   "T - FATAL - fatal line\nT - ERROR - error line\nT -  WARN - warn line\n"},
        FormatCase{"WithoutTimestamp", false, " INFO - info line\nDEBUG - debug line\n",
                   "FATAL - fatal line\nERROR - error line\n WARN - warn line\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineFormat, TimestampIsLocalTime) {
    // A fixed zone five hours east of UTC, spelled so that no zone database is needed.
    const RunResult r = run_in_child([] {
        setenv("TZ", "QFT-5", 1);
        tzset();
        settings(Level::info, true);
        QF_INFO("now");
        return 0;
    });
    ASSERT_EQ(r.exit_status, 0);
    const std::time_t now = std::time(nullptr);
    bool matched = false;
    for (std::time_t t : {now - 2, now - 1, now}) {
        const std::time_t shifted = t + 5 * 3600;
        std::tm utc{};
        gmtime_r(&shifted, &utc);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
        matched = matched || r.out == std::string(text) + " -  INFO - now\n";
    }
    EXPECT_TRUE(matched) << r.out;
}

struct GateCase {
    Level setting;
    std::string printed; // the levels whose lines appear, in statement order
};
void PrintTo(const GateCase& c, std::ostream* os) {
    *os << level_name(c.setting);
}

class LevelGate : public ::testing::TestWithParam<GateCase> {};

TEST_P(LevelGate, PrintsExactlyTheAdmittedLevels) {
    const RunResult r = run_in_child([] {
        settings(GetParam().setting, false);
        log_each_level();
        return 0;
    });
    ASSERT_EQ(r.exit_status, 0);
    std::string printed;
    static const std::regex word(R"(- (\w+) line\n)");
    const std::string all = r.err + r.out; // stderr holds the earlier levels
    for (auto it = std::sregex_iterator(all.begin(), all.end(), word); it != std::sregex_iterator();
         ++it)
        printed += (printed.empty() ? "" : " ") + (*it)[1].str();
    EXPECT_EQ(printed, GetParam().printed);
}

INSTANTIATE_TEST_SUITE_P(Levels, LevelGate,
                         ::testing::Values(GateCase{Level::fatal, "fatal"},
                                           GateCase{Level::error, "fatal error"},
                                           GateCase{Level::warn, "fatal error warn"},
                                           GateCase{Level::info, "fatal error warn info"},
                                           GateCase{Level::debug, "fatal error warn info debug"},
                                           GateCase{Level::trace, "fatal error warn info debug"}),
                         [](const auto& info) {
                             return std::string(level_name(info.param.setting));
                         });

// Counts how often it is rendered.
struct Observed {
    std::atomic<int>* renders;
};

} // namespace
} // namespace quillfen::test

template <>
struct fmt::formatter<quillfen::test::Observed> : fmt::formatter<std::string_view> {
    auto format(const quillfen::test::Observed& o, fmt::format_context& ctx) const {
        ++*o.renders;
        return fmt::formatter<std::string_view>::format("observed", ctx);
    }
};

namespace quillfen::test {
namespace {

TEST(LevelGate, LineBelowTheLevelIsNeverBuilt) {
    settings(Level::warn, false);
    std::atomic<int> renders = 0;
    int evaluated = 0;
    QF_INFO("{} {}", Observed{&renders}, ++evaluated);
    QF_DEBUG("{} {}", Observed{&renders}, ++evaluated);
    QF_SENSITIVE("{} {}", Observed{&renders}, ++evaluated);
    EXPECT_EQ(renders, 0);
    EXPECT_EQ(evaluated, 0);
    settings(Level::info, true);
}

struct ContentsCase {
    const char* name;
    bool sensitive;
    Level level;
    std::string out;
};
void PrintTo(const ContentsCase& c, std::ostream* os) {
    *os << c.name;
}

class ContentsLine : public ::testing::TestWithParam<ContentsCase> {};

TEST_P(ContentsLine, NeedsTheSettingAndInfo) {
    const auto& c = GetParam();
    const RunResult r = run_in_child([&] {
        settings(c.level, false, c.sensitive);
        QF_SENSITIVE("clipboard contents: '{}'", "secret");
        return 0;
    });
    ASSERT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ContentsLine,
    ::testing::Values(ContentsCase{"OnAtWarn", true, Level::warn, ""},
                      ContentsCase{"OffAtDebug", false, Level::debug, ""},
                      ContentsCase{"OnAtInfo", true, Level::info,
                                   " INFO - Sensitive: clipboard contents: 'secret'\n"},
                      ContentsCase{"OnAtTrace", true, Level::trace,
                                   " INFO - Sensitive: clipboard contents: 'secret'\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Any web page can put a text on the clipboard: it must not start a log line of its own (under
// journald "<0>" at the start of a line is the emergency priority) nor reach a terminal's escape
// sequences, so every control character shows escaped and printable text of any script as is.
struct EscapeCase {
    const char* name;
    std::string text;
    std::string logged; // what stands between the quotes
};
void PrintTo(const EscapeCase& c, std::ostream* os) {
    *os << c.name;
}

class ContentsEscaping : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(ContentsEscaping, TextStaysOnOneLine) {
    const auto& c = GetParam();
    const RunResult r = run_in_child([&] {
        settings(Level::info, false, true);
        QF_SENSITIVE("clipboard contents: '{}'", c.text);
        return 0;
    });
    ASSERT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, " INFO - Sensitive: clipboard contents: '" + c.logged + "'\n");
    EXPECT_EQ(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ContentsEscaping,
    ::testing::Values(EscapeCase{"ForgedLine", "x\n<0>FATAL - forged line\x1b[2J",
                                 R"(x\n<0>FATAL - forged line\u{1b}[2J)"},
                      EscapeCase{"Tab", "a\tb", R"(a\tb)"},
                      EscapeCase{"CarriageReturn", "a\r\nb", R"(a\r\nb)"},
                      // Told apart from the escapes above.
                      EscapeCase{"Backslash", R"(C:\new\u{1b})", R"(C:\\new\\u{1b})"},
                      EscapeCase{"Nul", std::string("a\0b", 3), R"(a\u{0}b)"},
                      EscapeCase{"OtherC0", "\x01\x1f", R"(\u{1}\u{1f})"},
                      EscapeCase{"Delete", "a\x7f", R"(a\u{7f})"},
                      // NEL ends a line for some readers; CSI starts a terminal sequence by itself.
                      EscapeCase{"C1", "a\u0085b\u009b2J\u0080", R"(a\u{85}b\u{9b}2J\u{80})"},
                      EscapeCase{"PrintableScripts",
                                 "Grüße Привет 你好 مرحبا שלום नमस्ते 🎉 e\u0301 \u00a0~",
                                 "Grüße Привет 你好 مرحبا שלום नमस्ते 🎉 e\u0301 \u00a0~"},
                      EscapeCase{"InvalidBytes", "a\xff\xe4\xbd", R"(a\x{ff}\x{e4}\x{bd})"},
                      EscapeCase{"Empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BrokenStreams, ClosedStdoutDropsLinesAndRunsOn) {
    ChildOptions options;
    options.stdout_mode = StdoutMode::closed;
    const RunResult r = run_in_child(
        [] {
            settings(Level::debug, false);
            QF_INFO("gone");
            QF_DEBUG("gone too");
            QF_WARN("still running");
            return 0;
        },
        options);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, " WARN - still running\n");
}

TEST(BrokenStreams, ClosedStdoutIsNotReusedForOtherFiles) {
    ChildOptions options;
    options.stdout_mode = StdoutMode::closed;
    const RunResult r = run_in_child(
        [] {
            // What start-up does before main, here after the test set fd 1 up closed.
            log::detail::fill_closed_standard_descriptors();
            int fds[2];
            if (pipe2(fds, O_NONBLOCK) != 0)
                return 1;
            if (fds[0] == STDOUT_FILENO || fds[1] == STDOUT_FILENO)
                return 2;
            settings(Level::info, false);
            QF_INFO("must not reach the pipe");
            char buffer[64];
            if (read(fds[0], buffer, sizeof buffer) != -1 || errno != EAGAIN)
                return 3;
            QF_WARN("still running");
            return 0;
        },
        options);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, " WARN - still running\n");
}

TEST(BrokenStreams, StdoutWithoutReaderIsFatal) {
    ChildOptions options;
    options.stdout_mode = StdoutMode::broken_pipe;
    const RunResult r = run_in_child(
        [] {
            settings(Level::info, false);
            QF_WARN("before");
            QF_INFO("this line cannot be written");
            QF_WARN("never reached");
            return 0;
        },
        options);
    EXPECT_FALSE(r.signal.has_value()) << "ended by signal " << *r.signal;
    EXPECT_EQ(r.exit_status, 101);
    EXPECT_EQ(r.err, " WARN - before\nfailed printing to stdout: Broken pipe (os error 32)\n");
}

TEST(BrokenStreams, StderrWithoutReaderIsFatal) {
    const RunResult r = run_in_child([] {
        int fds[2];
        if (pipe(fds) != 0)
            return 1;
        dup2(fds[1], STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        settings(Level::info, false);
        QF_WARN("this line cannot be written");
        QF_INFO("never reached");
        return 0;
    });
    EXPECT_EQ(r.exit_status, 101);
    EXPECT_EQ(r.out, "");
}

TEST(BrokenStreams, FatalEndsOnlyAGuardedThread) {
    ChildOptions options;
    options.stdout_mode = StdoutMode::broken_pipe;
    const RunResult r = run_in_child(
        [] {
            settings(Level::info, false);
            std::string caught;
            std::thread timer([&] {
                FatalEndsThread guard;
                try {
                    QF_INFO("this line cannot be written");
                } catch (const ThreadFatal& e) {
                    caught = e.message;
                }
            });
            timer.join();
            QF_WARN("caught: {}", caught);
            return 0;
        },
        options);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "failed printing to stdout: Broken pipe (os error 32)\n"
                     " WARN - caught: failed printing to stdout: Broken pipe (os error 32)\n");
}

// Fills a pipe so that the next write blocks.
void fill(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const std::string chunk(4096, 'x');
    while (write(fd, chunk.data(), chunk.size()) > 0) {
    }
    fcntl(fd, F_SETFL, flags);
}

std::atomic<int> interruptions = 0;
void count_interruption(int) {
    ++interruptions;
}

TEST(BrokenStreams, InterruptedWriteIsRetried) {
    const RunResult r = run_in_child([] {
        int fds[2];
        if (pipe(fds) != 0)
            return 1;
        dup2(fds[1], STDOUT_FILENO);
        fill(STDOUT_FILENO);
        // A handler without SA_RESTART: the write blocked on the full pipe ends with EINTR.
        struct sigaction action {};
        action.sa_handler = count_interruption;
        sigaction(SIGALRM, &action, nullptr);
        const pid_t logger = gettid();
        std::string drained;
        bool interrupted_in_write = false;
        bool written_again = false;
        std::thread reader([&] {
            interrupted_in_write =
                eventually([&] { return thread_in_write(getpid(), logger, STDOUT_FILENO); }) &&
                ::tgkill(getpid(), logger, SIGALRM) == 0 &&
                eventually([] { return interruptions == 1; });
            written_again = interrupted_in_write && eventually([&] {
                                return thread_in_write(getpid(), logger, STDOUT_FILENO);
                            });
            char buffer[4096];
            ssize_t n;
            while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
                drained.append(buffer, static_cast<std::size_t>(n));
                if (drained.ends_with('\n'))
                    break;
            }
        });
        settings(Level::info, false);
        QF_INFO("after the interruption");
        reader.join();
        if (!interrupted_in_write)
            return 3;
        if (!written_again)
            return 4;
        return drained.ends_with("x INFO - after the interruption\n") ? 0 : 2;
    });
    EXPECT_EQ(r.exit_status, 0) << r.err;
}

TEST(Fork, ChildLogsAtOnceWhileAnotherThreadIsMidLine) {
    const RunResult r = run_in_child([] {
        settings(Level::info, true);
        int full[2];
        if (pipe(full) != 0)
            return 1;
        const int captured_stdout = dup(STDOUT_FILENO);
        dup2(full[1], STDOUT_FILENO);
        fill(STDOUT_FILENO);
        std::atomic<pid_t> writer_tid = 0;
        std::thread writer([&] {
            writer_tid = gettid();
            QF_INFO("held up in the middle of a line");
        });
        // Wait until the writer is inside its line, holding the stream lock.
        for (int i = 0;
             i < 500 && !(writer_tid && thread_in_write(getpid(), writer_tid, STDOUT_FILENO)); ++i)
            usleep(10'000);
        if (!thread_in_write(getpid(), writer_tid, STDOUT_FILENO))
            return 3;
        const pid_t child = fork();
        if (child == 0) {
            dup2(captured_stdout, STDOUT_FILENO);
            QF_INFO("forked child logs");
            QF_WARN("on both streams");
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        // Let the writer finish so the process can end.
        char buffer[65536];
        while (read(full[0], buffer, sizeof buffer) == sizeof buffer) {
        }
        writer.join();
        return WIFEXITED(status) ? WEXITSTATUS(status) : 4;
    });
    EXPECT_FALSE(r.timed_out) << "the forked child hung at its first line";
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_NE(r.out.find(" -  INFO - forked child logs\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(" -  WARN - on both streams\n"), std::string::npos) << r.err;
}

struct NumbersCase {
    std::vector<std::uint8_t> input;
    std::string text;
};
void PrintTo(const NumbersCase& c, std::ostream* os) {
    *os << c.text;
}

class ConciseNumbers : public ::testing::TestWithParam<NumbersCase> {};

TEST_P(ConciseNumbers, Table) {
    EXPECT_EQ(concise_numbers(GetParam().input), GetParam().text);
}

std::vector<std::uint8_t> zero_to_254() {
    std::vector<std::uint8_t> all;
    for (int i = 0; i <= 254; ++i)
        all.push_back(static_cast<std::uint8_t>(i));
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ConciseNumbers,
    ::testing::Values(NumbersCase{{}, "[]"}, NumbersCase{{7}, "[7]"}, NumbersCase{{1, 2}, "[1, 2]"},
                      NumbersCase{{1, 2, 3}, "[1..3]"}, NumbersCase{{0, 1, 2, 3, 5}, "[0..3, 5]"},
                      NumbersCase{{1, 2, 4}, "[1, 2, 4]"}, NumbersCase{{1, 3, 4, 5}, "[1, 3..5]"},
                      NumbersCase{{0, 1, 2, 4, 5, 6}, "[0..2, 4..6]"},
                      NumbersCase{zero_to_254(), "[0..254]"},
                      NumbersCase{{254, 255, 0}, "[254..0]"},
                      NumbersCase{{3, 3, 4, 5}, "[3, 3..5]"}, NumbersCase{{5, 4, 3}, "[5, 4, 3]"}));

TEST(LevelNames, ParseIsCaseSensitive) {
    EXPECT_EQ(parse_level("debug"), Level::debug);
    EXPECT_EQ(parse_level("trace"), Level::trace);
    EXPECT_EQ(parse_level("DEBUG"), std::nullopt);
    EXPECT_EQ(parse_level(""), std::nullopt);
    for (auto level :
         {Level::fatal, Level::error, Level::warn, Level::info, Level::debug, Level::trace})
        EXPECT_EQ(parse_level(level_name(level)), level);
}

} // namespace
} // namespace quillfen::test
