// The process runner that every suite starts its programs with.
#include "tests/servers/watched_process.hpp"

#include <cerrno>
#include <csignal>
#include <string>

#include <gtest/gtest.h>

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;

// A process of the group that takes a while to go once killed: it holds a few hundred
// megabytes that the kernel must free.
const std::string slow_to_end =
    "python3 -c 'import sys; b = bytearray(400 << 20); b[::4096] = b\"x\" * len(b[::4096]); "
    "print(\"ready\", flush=True); sys.stdin.read()' & wait";

TEST(WatchedProcess, DestructorReturnsOnceNoProcessOfTheGroupIsLeft) {
    for (int round = 0; round < 3; ++round) {
        pid_t group = -1;
        {
            WatchedProcess process({"/bin/sh", "-c", slow_to_end});
            group = process.pid();
            ASSERT_TRUE(process.wait_for_out("ready", 20s)) << process.err();
        }
        errno = 0;
        EXPECT_EQ(::kill(-group, 0), -1) << "round " << round;
        EXPECT_EQ(errno, ESRCH) << "round " << round;
    }
}

} // namespace
} // namespace quillfen::test
