// Median and 95th percentile of one operation's wall time, shared by the benchmarks.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

struct Figures {
    double median_ms;
    double p95_ms;
};

inline Figures measure(int rounds, const std::function<void()>& once) {
    for (int i = 0; i < rounds / 10; ++i)
        once(); // warm-up
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(rounds));
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        once();
        times.push_back(Ms(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times[times.size() * 95 / 100]};
}

} // namespace bench
