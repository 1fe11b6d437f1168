// A deadline turned into the timeout that poll() takes.
#include <gtest/gtest.h>

#include <chrono>
#include <limits>

#include "util/poll_timeout.hpp"

namespace util {
namespace {

TEST(PollTimeout, TurnsADeadlineIntoAWaitThatPollCanTake) {
    EXPECT_EQ(poll_timeout(SteadyClock::time_point::max()), -1);
    EXPECT_EQ(poll_timeout(SteadyClock::now() - std::chrono::seconds(1)), 0);
    const int ten_seconds = poll_timeout(SteadyClock::now() + std::chrono::seconds(10));
    EXPECT_GT(ten_seconds, 0);
    EXPECT_LE(ten_seconds, 10000);
    // Beyond what an int counts, the longest wait poll() takes, not an overflow.
    EXPECT_EQ(poll_timeout(SteadyClock::time_point::max() - std::chrono::hours(1)),
              std::numeric_limits<int>::max());
}

} // namespace
} // namespace util
