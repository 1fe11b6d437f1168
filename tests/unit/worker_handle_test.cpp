// The one handle on a worker against real child processes of the test: the supervisor's wait
// collects the end through it, and ending a worker through it touches only a running worker.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "debug_text.hpp"
#include "end_worker.hpp"
#include "tests/unit/forked_child.hpp"
#include "worker_handle.hpp"

namespace {

using quillfen::test::Child;
using quillfen::test::start_child;
using quillfen::test::wait_until_ended;

void expect_collected(pid_t pid, const quillfen::WorkerHandle& worker) {
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    for (const auto& again : {worker.wait(), worker.look()}) {
        ASSERT_FALSE(again);
        EXPECT_EQ(again.error(), ECHILD);
    }
}

TEST(WorkerHandle, WaitCollectsTheEndAsTheSupervisorLogsIt) {
    struct Case {
        const char* name;
        Child child;
        bool terminated;  // sent SIGTERM through the handle first
        std::string text; // with the child's id for %
    };
    const std::vector<Case> cases{
        {"exits", Child::exits_7, false, "Exited(Pid(%), 7)"},
        {"ended by a real-time signal", Child::killed_by_34, false, "Signaled(Pid(%), 34, false)"},
        {"terminated", Child::runs, true, "Signaled(Pid(%), SIGTERM, false)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const pid_t pid = start_child(c.child);
        ASSERT_GT(pid, 0);
        auto worker = quillfen::WorkerHandle::open(pid);
        ASSERT_TRUE(worker);
        ASSERT_TRUE(!c.terminated || worker->terminate());
        const auto status = worker->wait();
        ASSERT_TRUE(status) << status.error();
        std::string text = c.text;
        text.replace(text.find('%'), 1, std::to_string(pid));
        EXPECT_EQ(quillfen::debug_text(*status), text);
        expect_collected(pid, *worker);
    }
}

TEST(WorkerHandle, WorkerCollectedBeforeItsHandleIsOpenedCannotBeWaitedFor) {
    const pid_t pid = start_child(Child::exits_7);
    ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
    auto worker = quillfen::WorkerHandle::open(pid);
    ASSERT_TRUE(worker);
    expect_collected(pid, *worker);
}

TEST(EndWorker, EndsARunningWorkerBySigtermAndLeavesAnEndedOneUncollected) {
    struct Case {
        const char* name;
        Child child;
        int final_status;
    };
    for (const Case c : {Case{"still running", Child::runs, W_EXITCODE(0, SIGTERM)},
                         Case{"ended", Child::exits_7, W_EXITCODE(7, 0)}}) {
        SCOPED_TRACE(c.name);
        const pid_t pid = start_child(c.child);
        ASSERT_GT(pid, 0);
        auto worker = quillfen::WorkerHandle::open(pid);
        ASSERT_TRUE(worker);
        if (c.child != Child::runs)
            wait_until_ended(pid);
        quillfen::end_worker(*worker);
        int raw = 0;
        ASSERT_EQ(waitpid(pid, &raw, 0), pid);
        EXPECT_EQ(raw, c.final_status);
    }
}

TEST(EndWorker, WorkerWithoutAHandleIsKilledByIdOnlyWhileItRuns) {
    struct Case {
        const char* name;
        Child child;
        int final_status;
    };
    for (const Case c : {Case{"still running", Child::runs, W_EXITCODE(0, SIGKILL)},
                         Case{"ended", Child::exits_7, W_EXITCODE(7, 0)}}) {
        SCOPED_TRACE(c.name);
        const pid_t pid = start_child(c.child);
        ASSERT_GT(pid, 0);
        if (c.child != Child::runs)
            wait_until_ended(pid);
        quillfen::kill_unheld_worker(pid);
        int raw = 0;
        ASSERT_EQ(waitpid(pid, &raw, 0), pid);
        EXPECT_EQ(raw, c.final_status);
    }
}

} // namespace
