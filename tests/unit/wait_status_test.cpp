#include <gtest/gtest.h>

#include <sys/wait.h>

#include <csignal>
#include <string>

#include "debug_text.hpp"
#include "wait_status.hpp"

namespace {

using quillfen::WaitStatus;

// What waitid reports for process 812.
siginfo_t info_of(int code, int status, pid_t pid = 812) {
    siginfo_t info{};
    info.si_signo = SIGCHLD;
    info.si_code = code;
    info.si_pid = pid;
    info.si_status = status;
    return info;
}

TEST(WaitStatus, DecodedStatusesReadAsTheSupervisorLogsThem) {
    struct Case {
        siginfo_t info;
        const char* text;
        bool abort;
    };
    const Case cases[] = {
        {info_of(CLD_EXITED, 101), "Exited(Pid(812), 101)", true},
        {info_of(CLD_EXITED, 0), "Exited(Pid(812), 0)", false},
        {info_of(CLD_EXITED, 1), "Exited(Pid(812), 1)", false},
        {info_of(CLD_KILLED, SIGTERM), "Signaled(Pid(812), SIGTERM, false)", false},
        {info_of(CLD_KILLED, SIGKILL), "Signaled(Pid(812), SIGKILL, false)", false},
        {info_of(CLD_DUMPED, SIGSEGV), "Signaled(Pid(812), SIGSEGV, true)", false},
        {info_of(CLD_KILLED, SIGSYS), "Signaled(Pid(812), SIGSYS, false)", false},
        {info_of(CLD_KILLED, SIGHUP), "Signaled(Pid(812), SIGHUP, false)", false},
        // Real-time signals have no standard name; they are shown by number.
        {info_of(CLD_KILLED, 34), "Signaled(Pid(812), 34, false)", false},
        {info_of(CLD_KILLED, 64), "Signaled(Pid(812), 64, false)", false},
    };
    for (const auto& c : cases) {
        const auto status = quillfen::decode_wait_info(c.info);
        ASSERT_TRUE(status) << c.text;
        EXPECT_EQ(quillfen::debug_text(*status), c.text);
        EXPECT_EQ(status->is_abort(), c.abort) << c.text;
    }
    EXPECT_EQ(quillfen::debug_text(WaitStatus{WaitStatus::StillAlive{}}), "StillAlive");
    EXPECT_FALSE(quillfen::decode_wait_info(info_of(CLD_STOPPED, SIGSTOP)));
}

TEST(WaitStatus, NoProcessFoundUnderWnohangIsStillAlive) {
    const auto status = quillfen::decode_wait_info(siginfo_t{});
    ASSERT_TRUE(status);
    EXPECT_EQ(quillfen::debug_text(*status), "StillAlive");
    EXPECT_FALSE(status->is_abort());
}

} // namespace
