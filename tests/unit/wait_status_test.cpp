#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "debug_text.hpp"
#include "wait_status.hpp"

namespace {

using quillfen::WaitStatus;

TEST(WaitStatus, DecodedStatusesReadAsTheSupervisorLogsThem) {
    struct Case {
        int raw;
        const char* text;
        bool abort;
    };
    const Case cases[] = {
        {W_EXITCODE(101, 0), "Exited(Pid(812), 101)", true},
        {W_EXITCODE(0, 0), "Exited(Pid(812), 0)", false},
        {W_EXITCODE(1, 0), "Exited(Pid(812), 1)", false},
        {W_EXITCODE(0, SIGTERM), "Signaled(Pid(812), SIGTERM, false)", false},
        {W_EXITCODE(0, SIGKILL), "Signaled(Pid(812), SIGKILL, false)", false},
        {W_EXITCODE(0, SIGSEGV) | WCOREFLAG, "Signaled(Pid(812), SIGSEGV, true)", false},
        {W_EXITCODE(0, SIGSYS), "Signaled(Pid(812), SIGSYS, false)", false},
        {W_EXITCODE(0, SIGHUP), "Signaled(Pid(812), SIGHUP, false)", false},
        // Real-time signals have no standard name; they are shown by number.
        {W_EXITCODE(0, 34), "Signaled(Pid(812), 34, false)", false},
        {W_EXITCODE(0, 64), "Signaled(Pid(812), 64, false)", false},
    };
    for (const auto& c : cases) {
        const auto status = quillfen::decode_wait_status(812, c.raw);
        ASSERT_TRUE(status) << c.text;
        EXPECT_EQ(quillfen::debug_text(*status), c.text);
        EXPECT_EQ(status->is_abort(), c.abort) << c.text;
    }
    EXPECT_EQ(quillfen::debug_text(WaitStatus{WaitStatus::StillAlive{}}), "StillAlive");
    EXPECT_FALSE(quillfen::decode_wait_status(812, W_STOPCODE(SIGSTOP)));
}

} // namespace
