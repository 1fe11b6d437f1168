// The real supervisor, run by supervisor_host with short scripted workers and short timers.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "tests/servers/process_state.hpp"
#include "tests/servers/temp_dir.hpp"
#include "tests/servers/watched_process.hpp"

namespace {

using namespace std::chrono_literals;
using quillfen::test::count_of;
using quillfen::test::make_pipe;
using quillfen::test::OwnedPipe;
using quillfen::test::TempDir;
using quillfen::test::WatchedProcess;
using quillfen::test::WatchOptions;

struct Host {
    TempDir state{"supervisor"};
    WatchedProcess process;

    Host(const std::vector<std::string>& options, unsigned timer, const std::string& level,
         const std::vector<std::string>& script, const WatchOptions& watch = {})
        : process(command(options, timer, level, script), watch) {}

    std::vector<std::string> command(const std::vector<std::string>& options, unsigned timer,
                                     const std::string& level,
                                     const std::vector<std::string>& script) const {
        std::vector<std::string> argv{SUPERVISOR_HOST};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(std::to_string(timer));
        argv.push_back(level);
        argv.push_back((state.path / "worker-number").string());
        argv.insert(argv.end(), script.begin(), script.end());
        return argv;
    }
};

// The ids of the workers in the order the supervisor forked them (its debug lines).
std::vector<std::string> worker_ids(const std::string& out) {
    static const std::regex started(R"(DEBUG - child process (\d+) successfully initialized\.)");
    std::vector<std::string> ids;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), started);
         it != std::sregex_iterator(); ++it)
        ids.push_back((*it)[1]);
    return ids;
}

std::vector<std::string> completions(const std::string& out) {
    static const std::regex completed(R"(DEBUG - child process (\d+) completed with: (.*)\n)");
    std::vector<std::string> statuses;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), completed);
         it != std::sregex_iterator(); ++it)
        statuses.push_back((*it)[2]);
    return statuses;
}

std::size_t position(const std::string& text, const std::string& needle) {
    const auto at = text.find(needle);
    return at == std::string::npos ? text.size() + 1 : at;
}

TEST(Supervisor, FourthAbortEndsTheSupervisorWith101) {
    Host host({}, 600, "debug", {"abort", "abort", "abort", "abort"});
    const auto status = host.process.wait_exit(30s);
    ASSERT_TRUE(status) << host.process.out() << host.process.err();
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 101);

    const std::string& out = host.process.out();
    const std::string& err = host.process.err();
    EXPECT_TRUE(out.starts_with(" INFO - started quillfen manager\n")) << out;
    const auto ids = worker_ids(out);
    ASSERT_EQ(ids.size(), 4u) << out;
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(
            count_of(err, "FATAL - child process " + ids[i] + " panicked. giving it another try\n"),
            1u)
            << err;
    }
    EXPECT_EQ(count_of(err, "giving it another try"), 3u) << err;
    EXPECT_TRUE(err.ends_with("child process " + ids[3] + " panicked too many times.\n")) << err;
    const auto statuses = completions(out);
    ASSERT_EQ(statuses.size(), 4u) << out;
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(statuses[i], "Exited(Pid(" + ids[i] + "), 101)");
}

TEST(Supervisor, SignalsAndOtherStatusesAreNotCounted) {
    // Signal 34 is a real-time signal: it ends a worker like any other signal.
    Host host({}, 600, "debug",
              {"abort", "signal:9", "signal:11", "exit:7", "signal:34", "abort", "signal:15",
               "signal:6", "exit:0", "abort", "abort"});
    const auto status = host.process.wait_exit(60s);
    ASSERT_TRUE(status) << host.process.out() << host.process.err();
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 101);

    const std::string& out = host.process.out();
    const std::string& err = host.process.err();
    const auto ids = worker_ids(out);
    ASSERT_EQ(ids.size(), 11u) << out << err;
    const std::vector<std::string> expected{
        "Exited(Pid(" + ids[0] + "), 101)",
        "Signaled(Pid(" + ids[1] + "), SIGKILL, false)",
        "Signaled(Pid(" + ids[2] + "), SIGSEGV, false)",
        "Exited(Pid(" + ids[3] + "), 7)",
        "Signaled(Pid(" + ids[4] + "), 34, false)",
        "Exited(Pid(" + ids[5] + "), 101)",
        "Signaled(Pid(" + ids[6] + "), SIGTERM, false)",
        "Signaled(Pid(" + ids[7] + "), SIGABRT, false)",
        "Exited(Pid(" + ids[8] + "), 0)",
        "Exited(Pid(" + ids[9] + "), 101)",
        "Exited(Pid(" + ids[10] + "), 101)",
    };
    EXPECT_EQ(completions(out), expected);
    EXPECT_EQ(count_of(err, "FATAL - "), 3u) << err;
    for (std::size_t i : {0u, 5u, 9u}) {
        EXPECT_EQ(count_of(err, "child process " + ids[i] + " panicked. giving it another try"), 1u)
            << err;
    }
    EXPECT_TRUE(err.ends_with("child process " + ids[10] + " panicked too many times.\n")) << err;
    EXPECT_EQ(err.find("there was a problem managing the child process"), std::string::npos);
}

TEST(Supervisor, ShortTimerEndsARunningWorker) {
    Host host({}, 1, "debug", {"run", "run"});
    ASSERT_TRUE(
        host.process.wait_until([&] { return worker_ids(host.process.out()).size() >= 2; }, 20s))
        << host.process.out() << host.process.err();
    const std::string out = host.process.out();
    const std::string id = worker_ids(out)[0];
    const std::vector<std::string> in_order{
        "DEBUG - child process " + id + " successfully initialized.\n",
        "DEBUG - waiting 1 seconds and then killing " + id + ".\n",
        "DEBUG - child " + id + " is still alive, as expected.\n",
        "DEBUG - routinely attempting to kill child process " + id + ".\n",
        "DEBUG - child process " + id + " completed with: Signaled(Pid(" + id +
            "), SIGTERM, false)\n",
    };
    for (const std::string& line : in_order)
        ASSERT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    for (std::size_t i = 1; i < in_order.size(); ++i)
        EXPECT_LT(position(out, in_order[i - 1]), position(out, in_order[i])) << out;
    EXPECT_EQ(host.process.err().find("FATAL"), std::string::npos) << host.process.err();
}

TEST(Supervisor, TimerOfAnEndedWorkerSignalsNothingElse) {
    // In a pid namespace of its own the first worker can hand its id to the next worker, so a
    // timer that judged its worker by id alone would end the wrong process.
    Host host({"--pid-namespace"}, 3, "debug", {"reuse-pid", "run", "run"});
    ASSERT_TRUE(
        host.process.wait_until([&] { return worker_ids(host.process.out()).size() >= 3; }, 30s))
        << host.process.out() << host.process.err();
    const std::string out = host.process.out();
    const std::string err = host.process.err();
    const auto ids = worker_ids(out);
    ASSERT_EQ(ids[0], ids[1]) << "the second worker did not get the first worker's id\n" << out;
    const std::string id = ids[0];

    // The first timer finds its worker collected and leaves the second worker alone ...
    EXPECT_EQ(count_of(err, "ERROR - error getting status of child process " + id +
                                ": ECHILD: No child processes\n"),
              1u)
        << err;
    // ... which runs until its own timer ends it: one still-alive line and one kill, after it.
    EXPECT_EQ(count_of(out, "child " + id + " is still alive, as expected."), 1u) << out;
    EXPECT_EQ(count_of(out, "routinely attempting to kill child process " + id + "."), 1u) << out;
    EXPECT_EQ(completions(out)[1], "Signaled(Pid(" + id + "), SIGTERM, false)");
    EXPECT_EQ(err.find("there was a problem managing the child process"), std::string::npos);
    EXPECT_EQ(err.find("error killing child process"), std::string::npos) << err;
}

std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Supervisor, WorkerForkedWhileATimerPrintsStartsWithFreeLogLocks) {
    // Standard error is a full pipe that nobody reads yet: the first timer (at 2 s) blocks in
    // the middle of its line while the second worker is forked (at 2.5 s). That worker writes
    // to standard error itself once the pipe drains, before its own timer (at 4.5 s).
    OwnedPipe pipe = make_pipe();
    ASSERT_EQ(fcntl(pipe.read.get(), F_SETFL, O_NONBLOCK), 0);
    ASSERT_EQ(fcntl(pipe.write.get(), F_SETFL, O_NONBLOCK), 0);
    const std::string filler(4096, 'x');
    while (write(pipe.write.get(), filler.data(), filler.size()) > 0) {
    }
    ASSERT_EQ(fcntl(pipe.write.get(), F_SETFL, 0), 0);
    WatchOptions watch;
    watch.stderr_fd = pipe.write.get();
    Host host({}, 2, "info", {"sleep:1500", "log", "run"}, watch);
    pipe.write.reset();

    // Worker 2 has begun while the first timer is still inside its line.
    ASSERT_TRUE(quillfen::test::eventually(
        [&] { return file_text(host.state.path / "worker-number") == "2"; }, 15s));
    EXPECT_EQ(quillfen::test::threads_in_write(host.process.pid(), STDERR_FILENO), 1)
        << "no thread of the supervisor was inside its line when worker 2 began";
    std::string err;
    const bool logged = host.process.wait_until(
        [&] {
            char buffer[65536];
            ssize_t got;
            while ((got = read(pipe.read.get(), buffer, sizeof buffer)) > 0)
                err.append(buffer, static_cast<std::size_t>(got));
            return host.process.out().find(" INFO - worker 2 logged\n") != std::string::npos;
        },
        15s);
    pipe.read.reset();
    EXPECT_TRUE(logged) << host.process.out();
    EXPECT_NE(err.find(" WARN - worker 2 warns\n"), std::string::npos);
    EXPECT_NE(err.find("ERROR - error getting status of child process"), std::string::npos);
}

struct FatalCase {
    const char* name;
    std::vector<std::string> options;
    WatchOptions::Stdout stdout_mode;
    std::string expected; // a regular expression for the whole of standard error
};

TEST(Supervisor, FatalConditionsEndTheSupervisorWith101) {
    const std::vector<FatalCase> cases{
        {"fork fails", {"--deny-fork"}, WatchOptions::Stdout::pipe, "Failed to fork: EAGAIN\n"},
        {"timer cannot start",
         {"--deny-threads"},
         WatchOptions::Stdout::pipe,
         R"(failed to start the timer of child process \d+: EAGAIN\n)"},
        {"wait fails",
         {"--deny-wait"},
         WatchOptions::Stdout::pipe,
         R"(there was a problem managing the child process, so the service is exiting\. check )"
         R"(that pid \d+ is not running before restarting this service: ECHILD\n)"},
        {"no pidfd of the worker",
         {"--deny-pidfd"},
         WatchOptions::Stdout::pipe,
         R"(failed to start the timer of child process \d+: EMFILE\n)"},
        {"line cannot be written",
         {},
         WatchOptions::Stdout::broken_pipe,
         R"(failed printing to stdout: Broken pipe \(os error 32\)\n)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WatchOptions watch;
        watch.stdout_mode = c.stdout_mode;
        Host host(c.options, 600, "info", {"exit:0"}, watch);
        const auto status = host.process.wait_exit(20s);
        ASSERT_TRUE(status);
        ASSERT_TRUE(WIFEXITED(*status)) << host.process.err();
        EXPECT_EQ(WEXITSTATUS(*status), 101) << host.process.err();
        EXPECT_TRUE(std::regex_match(host.process.err(), std::regex(c.expected)))
            << host.process.err();
    }
}

// A fatal condition right after a fork leaves no worker behind, even one that ignores SIGTERM.
TEST(Supervisor, FatalConditionAfterAForkEndsTheWorkerBeforeTheSupervisorExits) {
    struct Case {
        const char* what;
        std::vector<std::string> options;
        std::string err; // before the worker's id: the worker's own lines and the reason
        std::string errno_name;
    };
    const Case cases[] = {
        // Sent SIGTERM first and ignoring it: only the SIGKILL after the grace period ends it.
        {"the timer cannot start",
         {"--deny-threads", "--hold-sigterm-in-workers"},
         "worker ignores SIGTERM\n",
         "EAGAIN"},
        // Without its one handle it can be neither waited for nor timed: killed at once by its
        // id, which still names it since it is not collected.
        {"no pidfd for it", {"--deny-pidfd"}, "", "EMFILE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Host host(c.options, 600, "debug", {"stubborn"});
        const auto status = host.process.wait_exit(30s);
        ASSERT_TRUE(status) << host.process.out() << host.process.err();
        const auto ids = worker_ids(host.process.out());
        ASSERT_EQ(ids.size(), 1u) << host.process.out();
        // Looked at once the supervisor is gone, with no wait: its worker is gone already.
        EXPECT_TRUE(quillfen::test::process_ended(std::stoi(ids[0])));
        ASSERT_TRUE(WIFEXITED(*status));
        EXPECT_EQ(WEXITSTATUS(*status), 101);
        EXPECT_TRUE(std::regex_match(
            host.process.err(), std::regex(c.err + "failed to start the timer of child process " +
                                           ids[0] + ": " + c.errno_name + "\n")))
            << host.process.err();
    }
}

TEST(Supervisor, WorkerEndsWithItsSupervisor) {
    for (const int signal : {SIGKILL, SIGTERM}) {
        SCOPED_TRACE(strsignal(signal));
        Host host({}, 600, "debug", {"run"});
        ASSERT_TRUE(host.process.wait_for_out(" INFO - worker 1 runs\n", 15s))
            << host.process.out() << host.process.err();
        // The worker may speak before its supervisor logs it.
        host.process.wait_until([&] { return !worker_ids(host.process.out()).empty(); }, 15s);
        const auto ids = worker_ids(host.process.out());
        ASSERT_EQ(ids.size(), 1u) << host.process.out();
        // The supervisor alone, not its process group.
        host.process.signal(signal);
        const auto status = host.process.wait_exit(15s);
        ASSERT_TRUE(status);
        EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == signal) << *status;
        EXPECT_TRUE(quillfen::test::eventually(
            [&] { return quillfen::test::process_ended(std::stoi(ids[0])); }, 30s));
    }
}

TEST(Supervisor, SignalStateLeftByTheLauncherIsSetAside) {
    struct Case {
        const char* name;
        std::vector<std::string> options;
    };
    const std::vector<Case> cases{
        {"SIGCHLD ignored", {"--ignore-sigchld"}},
        {"every signal blocked", {"--block-signals"}},
        {"both", {"--ignore-sigchld", "--block-signals"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The first worker is ended by its timer; the next one must follow.
        Host host(c.options, 1, "debug", {"run", "run"});
        ASSERT_TRUE(host.process.wait_for_out(" INFO - worker 2 runs\n", 20s))
            << host.process.out() << host.process.err();
        const std::string out = host.process.out();
        const auto ids = worker_ids(out);
        ASSERT_GE(ids.size(), 2u) << out;
        ASSERT_FALSE(completions(out).empty()) << out;
        EXPECT_EQ(completions(out)[0], "Signaled(Pid(" + ids[0] + "), SIGTERM, false)");
        EXPECT_EQ(host.process.err().find("FATAL"), std::string::npos) << host.process.err();

        // SIGTERM still ends the supervisor, and with it its worker.
        host.process.signal(SIGTERM);
        const auto status = host.process.wait_exit(15s);
        ASSERT_TRUE(status) << host.process.out() << host.process.err();
        EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM) << *status;
        const std::string last = worker_ids(host.process.out()).back();
        EXPECT_TRUE(quillfen::test::eventually(
            [&] { return quillfen::test::process_ended(std::stoi(last)); }, 30s));
    }
}

TEST(Supervisor, TimerThatCannotLogEndsAloneAndTheSupervisorGoesOn) {
    // Standard error is a pipe without a reader: the first timer's error line fails.
    WatchOptions watch;
    OwnedPipe pipe = make_pipe();
    pipe.read.reset();
    watch.stderr_fd = pipe.write.get();
    Host host({}, 1, "info", {"exit:0", "run", "run"}, watch);
    pipe.write.reset();
    EXPECT_TRUE(host.process.wait_for_out(" INFO - worker 3 runs\n", 15s)) << host.process.out();
    EXPECT_FALSE(host.process.wait_exit(0ms));
}

} // namespace
