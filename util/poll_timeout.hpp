// Waiting until a point in time with poll(), which counts in whole milliseconds.
#pragma once

#include <chrono>

namespace util {

using SteadyClock = std::chrono::steady_clock;

// poll()'s timeout for a wait that ends at `deadline`: rounded up, so that the wait never ends
// before it; 0 once it has passed; -1 (no limit) for SteadyClock::time_point::max().
int poll_timeout(SteadyClock::time_point deadline);

} // namespace util
