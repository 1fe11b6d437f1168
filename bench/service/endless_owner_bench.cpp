// What an owner that never ends its transfer costs the running service: for 60 s one display's
// clipboard is held by such an owner (an endless INCR transfer on X, an endless data-control writer
// on Wayland), while the worker's peak memory and CPU are taken; then a copy made on another
// display is timed until it arrives on a third. Two Xvfb displays and one headless sway.

#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/process_stats.hpp"
#include "bench/running_service.hpp"
#include "bench/wayland_paste.hpp"
#include "tests/servers/display_namespace.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/servers/watched_process.hpp"
#include "tests/servers/xvfb_server.hpp"
#include "tests/wlclip/test_owner.hpp"
#include "tests/wlclip/use_compositor.hpp"
#include "tests/x11clip/slow_incr_owner.hpp"
#include "wlclip/wlclip.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using quillfen::test::SlowIncrOwner;
using quillfen::test::SwayServer;
using quillfen::test::TestOwner;
using quillfen::test::XvfbServer;

constexpr auto held_for = 60s;
constexpr auto arrival_limit = 30s;
constexpr double rss_target_mib = 320;
constexpr double cpu_target_percent = 10;
constexpr auto arrival_target = 3s;

struct Figures {
    double peak_rss_mib = 0;
    double cpu_percent = 0;
    std::optional<double> arrival_s; // none: not within arrival_limit
    std::size_t requests = 0;        // reads the service began on the endless owner
    double sent_mib = 0;             // what the owner sent in all
    bool worker_replaced = false;
};

// Runs the service while `hold` keeps an endless owner on one display, measuring the worker;
// `copy` then makes a copy elsewhere and `arrived` tells whether it reached the third display.
// `owner_figures` fills in what the owner saw.
Figures measure(const SwayServer& sway, const std::function<void()>& hold,
                const std::function<void()>& copy, const std::function<bool()>& arrived,
                const std::function<void(Figures&)>& owner_figures) {
    const bench::RunningService service(sway);
    const pid_t worker = service.worker();
    std::this_thread::sleep_for(2s); // the service settles on what the clipboards hold

    Figures figures;
    hold();
    const long ticks_before = bench::cpu_ticks(worker);
    const auto start = Clock::now();
    std::this_thread::sleep_for(held_for);
    const auto length = Clock::now() - start;
    figures.cpu_percent = bench::percent_of_a_core(bench::cpu_ticks(worker) - ticks_before, length);

    // From the moment the user's program is started: the copy returns once it serves the text.
    const auto copied = Clock::now();
    copy();
    while (Clock::now() - copied < arrival_limit) {
        if (arrived()) {
            figures.arrival_s = std::chrono::duration<double>(Clock::now() - copied).count();
            break;
        }
        std::this_thread::sleep_for(20ms);
    }
    figures.peak_rss_mib = static_cast<double>(bench::peak_rss_kib(worker).value_or(0)) / 1024.0;
    figures.worker_replaced = service.worker_replaced();
    owner_figures(figures);
    return figures;
}

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

void report(const char* layer, const std::string& owner, const std::string& copy_path,
            const Figures& f) {
    std::printf("%s: %s, held for %lld s\n", layer, owner.c_str(),
                static_cast<long long>(held_for.count()));
    std::printf("  worker peak RSS (VmHWM)   %8.1f MiB\n", f.peak_rss_mib);
    std::printf("  worker CPU over %lld s     %8.2f %% of a core\n",
                static_cast<long long>(held_for.count()), f.cpu_percent);
    if (f.arrival_s)
        std::printf("  copy %s arrived in %.2f s\n", copy_path.c_str(), *f.arrival_s);
    else
        std::printf("  copy %s did not arrive within %lld s\n", copy_path.c_str(),
                    static_cast<long long>(arrival_limit.count()));
    std::printf("  the owner was asked %zu times and sent %.1f MiB\n", f.requests, f.sent_mib);
    if (f.worker_replaced)
        std::printf("  note: the worker was replaced during the run\n");
    std::printf("target: %s worker peak RSS under %.0f MiB: %s\n", layer, rss_target_mib,
                verdict(f.peak_rss_mib > 0 && f.peak_rss_mib < rss_target_mib));
    std::printf("target: %s worker CPU under %.0f %% of a core: %s\n", layer, cpu_target_percent,
                verdict(f.cpu_percent < cpu_target_percent));
    std::printf("target: %s copy on another display arrives within %lld s: %s\n", layer,
                static_cast<long long>(arrival_target.count()),
                verdict(f.arrival_s &&
                        *f.arrival_s < std::chrono::duration<double>(arrival_target).count()));
}

} // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (const auto failure = quillfen::test::enter_private_display_namespace(); !failure.empty()) {
        std::fprintf(stderr,
                     "endless_owner_bench: cannot isolate from the machine's displays: %s\n",
                     failure.c_str());
        return 1;
    }
    ::signal(SIGPIPE, SIG_IGN); // the endless writer meets the pipe the service closed
    try {
        XvfbServer first_x;
        XvfbServer second_x;
        SwayServer sway;
        setenv("XDG_RUNTIME_DIR", sway.runtime_dir().c_str(), 1);
        std::printf("endless owner benchmark: %s, %s and %s\n", first_x.display().c_str(),
                    second_x.display().c_str(), sway.socket_name().c_str());

        {
            std::optional<SlowIncrOwner> endless;
            const std::string text = "copied on " + second_x.display() + " past the endless owner";
            const Figures f = measure(
                sway,
                [&] {
                    endless.emplace(first_x.display(),
                                    std::vector<std::string>{std::string(250000, 'e')}, 0ms,
                                    SlowIncrOwner::Ending::never);
                },
                [&] { quillfen::test::xclip_copy(second_x.display(), text); },
                [&] { return bench::wayland_paste(sway) == text; },
                [&](Figures& figures) {
                    figures.requests = endless->requests();
                    figures.sent_mib = static_cast<double>(endless->sent()) / (1 << 20);
                });
            report("X", "an endless INCR owner on " + first_x.display(),
                   "on " + second_x.display() + " to " + sway.socket_name(), f);
        }

        {
            std::mutex mutex;
            std::vector<std::jthread> writers;
            std::atomic<std::size_t> requests = 0;
            std::atomic<std::size_t> sent = 0;
            std::optional<TestOwner> endless;
            const std::string text = "copied on " + first_x.display() + " past the endless writer";
            const Figures f = measure(
                sway,
                [&] {
                    endless.emplace(
                        quillfen::test::address_of(sway), std::vector<std::string>{"UTF8_STRING"},
                        [&](const std::string&, util::UniqueFd fd) {
                            ++requests;
                            std::lock_guard lock(mutex);
                            writers.emplace_back([&sent, fd = std::move(fd)] {
                                const std::string chunk(1 << 16, 'w');
                                for (ssize_t n;
                                     (n = ::write(fd.get(), chunk.data(), chunk.size())) > 0;)
                                    sent += static_cast<std::size_t>(n);
                            });
                        });
                },
                [&] { quillfen::test::xclip_copy(first_x.display(), text); },
                [&] { return quillfen::test::xclip_paste(second_x.display(), 10s) == text; },
                [&](Figures& figures) {
                    figures.requests = requests;
                    figures.sent_mib = static_cast<double>(sent) / (1 << 20);
                });
            endless.reset();
            {
                std::lock_guard lock(mutex);
                writers.clear();
            }
            report("Wayland", "an endless data-control writer on " + sway.socket_name(),
                   "on " + first_x.display() + " to " + second_x.display(), f);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "endless_owner_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
