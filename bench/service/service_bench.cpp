// Propagation latency, idle CPU and resource growth of the running service (supervisor and
// worker) on two Xvfb displays and one headless sway. The clipboards are written and read from
// this process through the project's own clipboard layers.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/process_stats.hpp"
#include "tests/servers/display_namespace.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/servers/watched_process.hpp"
#include "tests/servers/xvfb_server.hpp"
#include "wlclip/wlclip.hpp"
#include "x11clip/x11clip.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using bench::child_of;
using bench::cpu_ticks;
using bench::percent_of_a_core;
using quillfen::test::SwayServer;
using quillfen::test::WatchedProcess;
using quillfen::test::WatchOptions;
using quillfen::test::XvfbServer;

constexpr int latency_copies = 100;
constexpr int total_propagations = 1000;
constexpr auto idle_period = 60s;

// One clipboard as a user's program sees it.
struct Peer {
    std::string name;
    std::function<void(const std::string&)> set;
    std::function<std::string()> get;
};

Peer x11_peer(const XvfbServer& server) {
    auto created = x11clip::Clipboard::create(server.display());
    if (!created)
        throw std::runtime_error("cannot open " + server.display());
    auto clipboard = std::make_shared<x11clip::Clipboard>(std::move(*created));
    return Peer{server.display(),
                [clipboard](const std::string& text) {
                    if (!clipboard->set_string(text))
                        throw std::runtime_error("X11 write failed");
                },
                [clipboard] {
                    auto text = clipboard->get_string();
                    return text ? *text : std::string();
                }};
}

Peer wayland_peer(const SwayServer& sway) {
    auto clipboard = std::make_shared<wlclip::Clipboard>(
        wlclip::Address::in_runtime_dir(sway.runtime_dir().c_str(), sway.socket_name()));
    return Peer{sway.socket_name(),
                [clipboard](const std::string& text) {
                    if (!clipboard->copy_text(text)) {
                        throw std::runtime_error("Wayland write failed");
                    }
                },
                [clipboard] {
                    auto contents = clipboard->get_contents();
                    if (!contents) {
                        return std::string();
                    }
                    auto text = wlclip::read_to_end(contents->pipe.get());
                    return text ? *text : std::string();
                }};
}

struct Footprint {
    long rss_kib = 0;
    long threads = 0;
    long descriptors = 0;
};

Footprint footprint(pid_t pid) {
    Footprint f;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:")
            status >> f.rss_kib;
        else if (key == "Threads:")
            status >> f.threads;
        status.ignore(4096, '\n');
    }
    for ([[maybe_unused]] const auto& fd :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        ++f.descriptors;
    return f;
}

double quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    const double at = q * static_cast<double>(values.size() - 1);
    const auto below = static_cast<std::size_t>(at);
    const auto above = std::min(below + 1, values.size() - 1);
    return values[below] + (values[above] - values[below]) * (at - static_cast<double>(below));
}

class Propagator {
  public:
    explicit Propagator(std::vector<Peer>& peers) : peers_(peers) {}

    // Writes a new text into one clipboard (each in turn) and returns the time until every
    // other clipboard reads it, or nothing when the copy was lost or took over 5 s.
    std::optional<std::chrono::duration<double, std::milli>> once() {
        const std::size_t source = count_ % peers_.size();
        const std::string text = "propagation " + std::to_string(count_++);
        const auto start = Clock::now();
        peers_[source].set(text);
        for (;;) {
            bool everywhere = true;
            for (std::size_t i = 0; i < peers_.size() && everywhere; ++i)
                everywhere = i == source || peers_[i].get() == text;
            const auto elapsed = Clock::now() - start;
            if (everywhere) {
                // Let the service settle and take its new baseline, then wait a random part of
                // its 200 ms polling period, so that copies do not keep one phase of its loop.
                std::this_thread::sleep_for(150ms + std::chrono::milliseconds(jitter_(random_)));
                return elapsed;
            }
            if (elapsed > 5s) {
                ++lost_;
                return std::nullopt;
            }
            std::this_thread::sleep_for(2ms);
        }
    }

    int lost() const { return lost_; }
    int count() const { return count_; }

  private:
    std::vector<Peer>& peers_;
    std::minstd_rand random_{20261210};
    std::uniform_int_distribution<int> jitter_{0, 250};
    int count_ = 0;
    int lost_ = 0;
};

void print_footprint(const char* when, const Footprint& f) {
    std::printf("  worker after %-5s propagations: RSS %6ld KiB, %3ld threads, %3ld descriptors\n",
                when, f.rss_kib, f.threads, f.descriptors);
}

} // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (const auto failure = quillfen::test::enter_private_display_namespace(); !failure.empty()) {
        std::fprintf(stderr, "bench_service: cannot isolate from the machine's displays: %s\n",
                     failure.c_str());
        return 1;
    }
    try {
        XvfbServer first_x;
        XvfbServer second_x;
        SwayServer sway;

        std::printf("service benchmark: %s, %s and %s\n", first_x.display().c_str(),
                    second_x.display().c_str(), sway.socket_name().c_str());

        std::printf("measuring the compositor alone for %lld s, then the service ...\n",
                    static_cast<long long>(idle_period.count()));
        const long sway_before = cpu_ticks(sway.pid());
        std::this_thread::sleep_for(idle_period);
        const long sway_alone = cpu_ticks(sway.pid()) - sway_before;

        WatchOptions options;
        options.environment = {"XDG_RUNTIME_DIR=" + sway.runtime_dir()};
        WatchedProcess service({QUILLFEN_BINARY, "--hide-timestamp"}, options);
        if (!service.wait_for_out("Using clipboards: ", 60s))
            throw std::runtime_error("the service did not list its clipboards:\n" + service.err());
        const auto worker = child_of(service.pid());
        if (!worker)
            throw std::runtime_error("no worker process found");

        std::vector<Peer> peers{wayland_peer(sway), x11_peer(first_x), x11_peer(second_x)};
        Propagator propagator(peers);

        for (int i = 0; i < 10; ++i)
            propagator.once();
        const Footprint after_10 = footprint(*worker);

        const long service_before = cpu_ticks(service.pid()) + cpu_ticks(*worker);
        const long sway_idle_before = cpu_ticks(sway.pid());
        const auto idle_start = Clock::now();
        std::this_thread::sleep_for(idle_period);
        const auto idle_length = Clock::now() - idle_start;
        const long service_idle = cpu_ticks(service.pid()) + cpu_ticks(*worker) - service_before;
        const long sway_with_service = cpu_ticks(sway.pid()) - sway_idle_before;

        std::vector<double> latencies;
        while (propagator.count() < total_propagations) {
            const auto latency = propagator.once();
            if (latency && latencies.size() < latency_copies)
                latencies.push_back(latency->count());
        }
        const Footprint after_1000 = footprint(*worker);
        const auto still_worker = child_of(service.pid());

        std::printf("propagation latency over %zu copies: median %.1f ms (target <= 150 ms), "
                    "p95 %.1f ms (target <= 260 ms), max %.1f ms; %d of %d copies lost\n",
                    latencies.size(), quantile(latencies, 0.5), quantile(latencies, 0.95),
                    quantile(latencies, 1.0), propagator.lost(), propagator.count());
        std::printf("idle CPU over %.0f s: supervisor and worker %.2f %% of one core "
                    "(target <= 1 %%)\n",
                    std::chrono::duration<double>(idle_length).count(),
                    percent_of_a_core(service_idle, idle_length));
        std::printf("compositor CPU: %.2f %% of one core with the service polling, %.2f %% "
                    "without; extra %.2f %%\n",
                    percent_of_a_core(sway_with_service, idle_length),
                    percent_of_a_core(sway_alone, idle_period),
                    percent_of_a_core(sway_with_service, idle_length) -
                        percent_of_a_core(sway_alone, idle_period));
        std::printf("growth (target: none):\n");
        print_footprint("10", after_10);
        print_footprint("1000", after_1000);
        if (still_worker != worker)
            std::printf("  note: the worker was replaced during the run\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_service: %s\n", error.what());
        return 1;
    }
    return 0;
}
