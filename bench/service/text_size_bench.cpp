// What idling costs with a large text in the clipboards: the time of one unchanged pass of the
// sync loop over two Xvfb displays and one headless sway, and the CPU that the running service
// and the servers spend while the text is left alone, for texts of 1 KiB to 64 MiB.

#include <stdio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "backend_probes.hpp"
#include "bench/process_stats.hpp"
#include "keep_synced.hpp"
#include "log.hpp"
#include "tests/servers/display_namespace.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/servers/watched_process.hpp"
#include "tests/servers/xvfb_server.hpp"
#include "wlclip/wlclip.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;
using quillfen::test::SwayServer;
using quillfen::test::WatchedProcess;
using quillfen::test::WatchOptions;
using quillfen::test::XvfbServer;

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = 1024 * KiB;
constexpr std::size_t sizes[] = {1 * KiB, 1 * MiB, 10 * MiB, 64 * MiB};
constexpr auto idle_period = 15s;
constexpr auto arrival_limit = 120s;
constexpr int timed_passes = 10;
constexpr double cpu_target_pp = 0.5;

std::string size_name(std::size_t size) {
    return size >= MiB ? std::to_string(size / MiB) + " MiB" : std::to_string(size / KiB) + " KiB";
}

// `size` bytes of UTF-8 text, different for every tag.
std::string text_of(std::size_t size, const std::string& tag) {
    std::string text = tag + "\n";
    const std::string line = "idle text, grüße, € and 𝄞, 0123456789 abcdefghijklmnopqrstuvwxyz\n";
    text.reserve(size);
    while (text.size() + line.size() <= size)
        text += line;
    text.append(size - text.size(), '.');
    return text;
}

struct EndOfMeasurement {};

// The median time between the pauses the loop takes after an unchanged pass, over a few passes
// (at most a minute); nothing when no pass was unchanged. The loop starts as a worker's does: it
// knows `written`, the text just given to every clipboard.
std::optional<double> unchanged_pass_ms(const quillfen::ClipboardList& clipboards,
                                        const std::string& written) {
    std::vector<Clock::time_point> ends;
    std::optional<Clock::time_point> previous;
    std::vector<double> ms;
    const auto give_up = Clock::now() + 60s;
    quillfen::Pause pause = [&](std::chrono::nanoseconds length) {
        const auto now = Clock::now();
        if (length == 200ms && previous)
            ms.push_back(Millis(now - *previous).count());
        previous = length == 200ms ? std::optional(now) : std::nullopt;
        if (static_cast<int>(ms.size()) >= timed_passes || now > give_up)
            throw EndOfMeasurement{};
        return true;
    };
    try {
        quillfen::keep_synced(clipboards, pause,
                              quillfen::SyncStart{.written = written, .shared = {}});
    } catch (const EndOfMeasurement&) {
    }
    if (ms.empty())
        return std::nullopt;
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

struct PassFigure {
    std::optional<double> ms;
    bool kept = false; // every clipboard still held the text afterwards
};

// Writes each text to every clipboard from this process, as a propagation does, and times the
// unchanged passes that follow.
std::vector<PassFigure> time_passes(const std::vector<std::string>& texts) {
    auto clipboards = quillfen::get_clipboards();
    if (!clipboards || clipboards->size() != 3)
        throw std::runtime_error("expected three clipboards");
    std::vector<PassFigure> figures;
    for (const auto& text : texts) {
        for (const auto& clipboard : *clipboards)
            if (!clipboard->set(text))
                throw std::runtime_error("cannot write " + clipboard->display());
        PassFigure figure{unchanged_pass_ms(*clipboards, text), true};
        for (const auto& clipboard : *clipboards) {
            auto held = clipboard->get();
            figure.kept = figure.kept && held && *held == text;
        }
        figures.push_back(figure);
    }
    return figures;
}

// xclip stands for the user's program on X: it copies in large chunks and reads without a
// time limit of its own.
void xclip_copy(const XvfbServer& server, const std::string& text) {
    const std::string command =
        "DISPLAY=" + server.display() + " xclip -selection clipboard -in >/dev/null 2>&1";
    FILE* xclip = ::popen(command.c_str(), "w");
    if (!xclip)
        throw std::runtime_error("cannot start xclip");
    const bool written = std::fwrite(text.data(), 1, text.size(), xclip) == text.size();
    if (::pclose(xclip) != 0 || !written)
        throw std::runtime_error("xclip -in failed on " + server.display());
}

std::string xclip_paste(const XvfbServer& server) {
    const std::string command =
        "DISPLAY=" + server.display() + " timeout 60 xclip -selection clipboard -out 2>/dev/null";
    FILE* xclip = ::popen(command.c_str(), "r");
    if (!xclip)
        throw std::runtime_error("cannot start xclip");
    std::string text;
    char buffer[1 << 16];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, xclip)) > 0;)
        text.append(buffer, got);
    return ::pclose(xclip) == 0 ? text : std::string();
}

std::string wayland_read(const SwayServer& sway) {
    wlclip::Clipboard clipboard(
        wlclip::Address::in_runtime_dir(sway.runtime_dir().c_str(), sway.socket_name()));
    auto contents = clipboard.get_contents();
    if (!contents)
        return {};
    auto text = wlclip::read_to_end(contents->pipe.get());
    return text ? *text : std::string();
}

struct IdleFigure {
    bool arrived = false;
    double service_percent = 0;
    double servers_percent = 0;
};

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

} // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (const auto failure = quillfen::test::enter_private_display_namespace(); !failure.empty()) {
        std::fprintf(stderr, "text_size_bench: cannot isolate from the machine's displays: %s\n",
                     failure.c_str());
        return 1;
    }
    quillfen::log::level::set(quillfen::Level::fatal);
    try {
        XvfbServer first_x;
        XvfbServer second_x;
        SwayServer sway;
        setenv("XDG_RUNTIME_DIR", sway.runtime_dir().c_str(), 1);
        std::printf("text size benchmark: %s, %s and %s\n", first_x.display().c_str(),
                    second_x.display().c_str(), sway.socket_name().c_str());

        std::vector<std::string> texts;
        for (std::size_t size : sizes)
            texts.push_back(text_of(size, "text of " + size_name(size)));
        const auto passes = time_passes(texts);

        WatchOptions options;
        options.environment = {"XDG_RUNTIME_DIR=" + sway.runtime_dir()};
        WatchedProcess service({QUILLFEN_BINARY, "--hide-timestamp"}, options);
        if (!service.wait_for_out("Using clipboards: ", 60s))
            throw std::runtime_error("the service did not list its clipboards:\n" + service.err());
        const auto worker = bench::child_of(service.pid());
        if (!worker)
            throw std::runtime_error("no worker process found");
        auto service_ticks = [&] {
            return bench::cpu_ticks(service.pid()) + bench::cpu_ticks(*worker);
        };
        auto server_ticks = [&] {
            return bench::cpu_ticks(first_x.pid()) + bench::cpu_ticks(second_x.pid()) +
                   bench::cpu_ticks(sway.pid());
        };

        std::vector<IdleFigure> idle;
        for (const auto& text : texts) {
            IdleFigure figure;
            xclip_copy(first_x, text);
            const auto deadline = Clock::now() + arrival_limit;
            while (!figure.arrived && Clock::now() < deadline) {
                std::this_thread::sleep_for(500ms);
                figure.arrived = wayland_read(sway) == text && xclip_paste(second_x) == text;
            }
            std::this_thread::sleep_for(2s); // the service takes its baseline
            const long service_before = service_ticks();
            const long servers_before = server_ticks();
            const auto start = Clock::now();
            std::this_thread::sleep_for(idle_period);
            const auto length = Clock::now() - start;
            figure.service_percent =
                bench::percent_of_a_core(service_ticks() - service_before, length);
            figure.servers_percent =
                bench::percent_of_a_core(server_ticks() - servers_before, length);
            idle.push_back(figure);
        }
        if (bench::child_of(service.pid()) != worker)
            std::printf("note: the worker was replaced during the run\n");

        std::printf("%-8s | %-26s | %-26s | %-20s | %s\n", "text", "one unchanged pass",
                    "service idle CPU (15 s)", "X servers + sway", "copied on X, arrived");
        for (std::size_t i = 0; i < texts.size(); ++i) {
            char pass[64];
            if (passes[i].ms) {
                std::snprintf(pass, sizeof pass, "%9.2f ms%s", *passes[i].ms,
                              passes[i].kept ? "" : " (text lost)");
            } else {
                std::snprintf(pass, sizeof pass, "none unchanged%s",
                              passes[i].kept ? "" : ", text lost");
            }
            std::printf("%-8s | %-26s | %8.2f %% of a core       | %8.2f %%           | %s\n",
                        size_name(sizes[i]).c_str(), pass, idle[i].service_percent,
                        idle[i].servers_percent, idle[i].arrived ? "intact" : "NOT intact");
        }
        auto within = [&](std::size_t i, double IdleFigure::*field) {
            return idle[i].*field - idle[0].*field <= cpu_target_pp;
        };
        std::printf("target: service idle CPU at 10 MiB and 64 MiB within %.1f pp of 1 KiB: %s\n",
                    cpu_target_pp,
                    verdict(within(2, &IdleFigure::service_percent) &&
                            within(3, &IdleFigure::service_percent)));
        std::printf("target: servers' idle CPU at 10 MiB and 64 MiB within %.1f pp of 1 KiB: %s\n",
                    cpu_target_pp,
                    verdict(within(2, &IdleFigure::servers_percent) &&
                            within(3, &IdleFigure::servers_percent)));
        std::printf("target: a 64 MiB text copied on X reaches every display intact: %s\n",
                    verdict(idle[3].arrived));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "text_size_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
