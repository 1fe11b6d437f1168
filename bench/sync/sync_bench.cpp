// How long discovery takes with no servers (510 failed probes) and with two Xvfb displays and
// one headless sway, and how long one unchanged pass of the sync loop over those three takes.
// Runs in private namespaces (as the server tests do), so it needs root.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "backend_probes.hpp"
#include "keep_synced.hpp"
#include "log.hpp"
#include "tests/servers/display_namespace.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/servers/xvfb_server.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void report(const char* what, const std::vector<double>& ms, double target) {
    const double m = median(ms);
    std::printf("%-44s median %8.3f ms  min %8.3f ms  (%zu runs; target <= %.0f ms: %s)\n", what, m,
                *std::min_element(ms.begin(), ms.end()), ms.size(), target,
                m <= target ? "met" : "MISSED");
}

std::vector<double> time_discovery(int runs) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        auto found = quillfen::get_clipboards();
        ms.push_back(Millis(Clock::now() - start).count());
        if (!found) {
            std::fprintf(stderr, "discovery failed: %s\n",
                         quillfen::debug_text(found.error()).c_str());
            std::exit(1);
        }
    }
    return ms;
}

struct EndOfMeasurement {};

// Times the passes of the sync loop by the moments it pauses after an unchanged pass.
std::vector<double> time_unchanged_passes(const quillfen::ClipboardList& clipboards, int passes) {
    std::vector<Clock::time_point> pauses;
    quillfen::Pause pause = [&](std::chrono::nanoseconds) {
        pauses.push_back(Clock::now());
        if (static_cast<int>(pauses.size()) > passes)
            throw EndOfMeasurement{};
        return true;
    };
    try {
        quillfen::keep_synced(clipboards, pause);
    } catch (const EndOfMeasurement&) {
    }
    // The first pause comes before the first read; each later one ends a pass.
    std::vector<double> ms;
    for (std::size_t i = 2; i < pauses.size(); ++i)
        ms.push_back(Millis(pauses[i] - pauses[i - 1]).count());
    return ms;
}

} // namespace

int main() {
    if (auto problem = quillfen::test::enter_private_display_namespace(); !problem.empty()) {
        std::printf("sync_bench skipped: %s\n", problem.c_str());
        return 0;
    }
    quillfen::log::level::set(quillfen::Level::fatal);

    std::string empty = (std::filesystem::temp_directory_path() / "quillfen-bench.XXXXXX").string();
    if (!::mkdtemp(empty.data()))
        return 1;
    ::setenv("XDG_RUNTIME_DIR", empty.c_str(), 1);
    report("discovery, no servers (510 failed probes)", time_discovery(10), 50);
    std::filesystem::remove(empty);

    quillfen::test::XvfbServer first, second;
    quillfen::test::SwayServer sway;
    ::setenv("XDG_RUNTIME_DIR", sway.runtime_dir().c_str(), 1);
    report("discovery, two Xvfb and one sway", time_discovery(10), 100);

    auto clipboards = quillfen::get_clipboards();
    if (!clipboards || clipboards->size() != 3) {
        std::fprintf(stderr, "expected three clipboards\n");
        return 1;
    }
    report("one unchanged pass over three clipboards", time_unchanged_passes(*clipboards, 50), 5);
    return 0;
}
