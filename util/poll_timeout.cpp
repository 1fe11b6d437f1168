#include "util/poll_timeout.hpp"

#include <algorithm>
#include <limits>

namespace util {

int poll_timeout(SteadyClock::time_point deadline) {
    if (deadline == SteadyClock::time_point::max())
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
    // A wait longer than poll() can take is made in several; none is that long here.
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(
        left.count(), 0, std::numeric_limits<int>::max()));
}

} // namespace util
