// One worker timer against real child processes of the test: it looks at its worker without
// collecting it and ends only that worker, only while it runs.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "kill_after.hpp"
#include "log.hpp"
#include "tests/unit/forked_child.hpp"

namespace {

// Standard output and error of this process go to pipes while it lives.
class CapturedOutput {
  public:
    CapturedOutput() {
        saved_out_ = dup(STDOUT_FILENO);
        saved_err_ = dup(STDERR_FILENO);
        if (pipe2(out_, O_CLOEXEC) != 0 || pipe2(err_, O_CLOEXEC) != 0)
            std::abort();
        dup2(out_[1], STDOUT_FILENO);
        dup2(err_[1], STDERR_FILENO);
    }
    ~CapturedOutput() {
        restore();
        close(out_[0]);
        close(err_[0]);
    }
    // Ends the capture; standard output and error as written.
    std::pair<std::string, std::string> finish() {
        restore();
        return {drain(out_[0]), drain(err_[0])};
    }

  private:
    void restore() {
        if (saved_out_ < 0)
            return;
        dup2(saved_out_, STDOUT_FILENO);
        dup2(saved_err_, STDERR_FILENO);
        for (int fd : {saved_out_, saved_err_, out_[1], err_[1]})
            close(fd);
        saved_out_ = -1;
    }
    static std::string drain(int fd) {
        std::string text;
        char buffer[4096];
        ssize_t got;
        while ((got = read(fd, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<std::size_t>(got));
        return text;
    }
    int saved_out_ = -1;
    int saved_err_ = -1;
    int out_[2] = {-1, -1};
    int err_[2] = {-1, -1};
};

class LogAtDebug {
  public:
    LogAtDebug()
        : level_(quillfen::log::level::get()), timestamp_(quillfen::log::timestamp::get()) {
        quillfen::log::level::set(quillfen::Level::debug);
        quillfen::log::timestamp::set(false);
    }
    ~LogAtDebug() {
        quillfen::log::level::set(level_);
        quillfen::log::timestamp::set(timestamp_);
    }

  private:
    quillfen::Level level_;
    bool timestamp_;
};

using quillfen::test::Child;
using quillfen::test::start_child;
using quillfen::test::wait_until_ended;

TEST(WorkerTimer, LooksWithoutCollectingAndEndsOnlyARunningWorker) {
    struct Case {
        const char* name;
        Child child;
        bool collected_before; // the supervisor's wait took the end before the timer woke
        std::string out;       // with the child's id for %
        std::string err;
        int final_status; // what the supervisor's wait then receives (-1: nothing left)
    };
    const std::vector<Case> cases{
        {"still running", Child::runs, false,
         "DEBUG - waiting 0 seconds and then killing %.\n"
         "DEBUG - child % is still alive, as expected.\n"
         "DEBUG - routinely attempting to kill child process %.\n",
         "", W_EXITCODE(0, SIGTERM)},
        {"ended, not yet collected", Child::exits_7, false,
         "DEBUG - waiting 0 seconds and then killing %.\n",
         " WARN - expected child process % to be StillAlive but got: Exited(Pid(%), 7)\n",
         W_EXITCODE(7, 0)},
        {"ended by a real-time signal", Child::killed_by_34, false,
         "DEBUG - waiting 0 seconds and then killing %.\n",
         " WARN - expected child process % to be StillAlive but got: Signaled(Pid(%), 34, "
         "false)\n",
         W_EXITCODE(0, 34)},
        {"already collected", Child::exits_7, true,
         "DEBUG - waiting 0 seconds and then killing %.\n",
         "ERROR - error getting status of child process %: ECHILD: No child processes\n", -1},
    };
    const LogAtDebug debug;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const pid_t pid = start_child(c.child);
        ASSERT_GT(pid, 0);
        auto worker = quillfen::WorkerHandle::open(pid);
        ASSERT_TRUE(worker);
        if (c.child != Child::runs)
            wait_until_ended(pid);
        // Collected here only in the cases that ask for it.
        ASSERT_TRUE(!c.collected_before || waitpid(pid, nullptr, 0) == pid);

        CapturedOutput capture;
        quillfen::run_timer(0, *worker);
        const auto [out, err] = capture.finish();

        auto with_id = [pid](std::string text) {
            for (auto at = text.find('%'); at != std::string::npos; at = text.find('%', at))
                text.replace(at, 1, std::to_string(pid));
            return text;
        };
        EXPECT_EQ(out, with_id(c.out));
        EXPECT_EQ(err, with_id(c.err));

        int raw = 0;
        if (c.final_status < 0) {
            EXPECT_EQ(waitpid(pid, &raw, WNOHANG), -1);
            EXPECT_EQ(errno, ECHILD);
        } else {
            ASSERT_EQ(waitpid(pid, &raw, 0), pid);
            EXPECT_EQ(raw, c.final_status);
        }
    }
}

void expect_reads_as_collected(const quillfen::WorkerHandle& worker) {
    const auto looked = worker.look();
    ASSERT_FALSE(looked);
    EXPECT_EQ(looked.error(), ECHILD);
    const auto sent = worker.terminate();
    ASSERT_FALSE(sent);
    EXPECT_EQ(sent.error(), ESRCH);
}

TEST(WorkerTimer, HandleOfACollectedWorkerCanNoLongerSignal) {
    const pid_t pid = start_child(Child::exits_7);
    auto worker = quillfen::WorkerHandle::open(pid);
    ASSERT_TRUE(worker);
    ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
    expect_reads_as_collected(*worker);
}

// With SIGCHLD ignored a worker can be reaped before its timer takes hold of it; the timer must
// still start (the supervisor's wait then reports the loss) rather than end the service itself.
TEST(WorkerTimer, WorkerCollectedBeforeItsHandleIsOpenedReadsAsCollected) {
    const pid_t pid = start_child(Child::exits_7);
    ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
    auto worker = quillfen::WorkerHandle::open(pid);
    ASSERT_TRUE(worker);
    expect_reads_as_collected(*worker);
}

} // namespace
