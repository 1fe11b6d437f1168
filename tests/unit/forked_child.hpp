// A forked child that stands for a worker: it runs until ended, exits with 7 or is ended by
// signal 34, and a way to wait for its end without collecting it.
#pragma once

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillfen::test {

enum class Child { runs, exits_7, killed_by_34 };

inline pid_t start_child(Child behaviour) {
    const pid_t pid = fork();
    if (pid == 0) {
        switch (behaviour) {
        case Child::runs:
            for (;;)
                pause();
        case Child::exits_7:
            _exit(7);
        case Child::killed_by_34:
            kill(getpid(), 34);
            _exit(1);
        }
    }
    return pid;
}

// Waits until the child has ended, and leaves it to be collected.
inline void wait_until_ended(pid_t pid) {
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT), 0);
}

} // namespace quillfen::test
