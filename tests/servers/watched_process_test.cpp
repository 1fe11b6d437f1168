// The process runner that every suite starts its programs with.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "tests/servers/watched_process.hpp"

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

// More than a pipe holds in both directions: feeding must not wait for a reader that itself
// waits for its output to be read.
TEST(Run, FeedsInputWhileCollectingOutput) {
    std::string input;
    for (int i = 0; input.size() < (1u << 20); ++i)
        input += std::to_string(i) + "\n";
    const RunResult result = run({"cat"}, {.input = input});
    EXPECT_TRUE(result.succeeded());
    EXPECT_TRUE(result.out == input) << result.out.size() << " of " << input.size() << " bytes";
}

TEST(Run, ProgramPastItsLimitIsKilledWithItsGroup) {
    const RunResult result = run({"/bin/sh", "-c", "sleep 30 & echo $$; wait"}, {}, 500ms);
    EXPECT_TRUE(result.timed_out);
    ASSERT_FALSE(result.out.empty());
    errno = 0;
    EXPECT_EQ(::kill(-std::stoi(result.out), 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

} // namespace
} // namespace quillfen::test
