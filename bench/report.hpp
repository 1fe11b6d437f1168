// One line of a latency benchmark's output: the operation, its figures and its target.
#pragma once

#include <cstdio>

#include "bench/latency.hpp"

namespace bench {

// `width` aligns the figures of one benchmark's lines.
inline void report(const char* what, Figures f, const char* target, int width) {
    std::printf("%-*s median %8.3f ms   p95 %8.3f ms   %s\n", width, what, f.median_ms, f.p95_ms,
                target);
}

} // namespace bench
