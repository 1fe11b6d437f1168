// What idling costs with a large text in the clipboards: the time of one unchanged pass of the
// sync loop over two Xvfb displays and one headless sway, and the CPU that the running service
// and the servers spend while the text is left alone, for texts of 1 KiB to 64 MiB; and the same
// idle CPU while a rich copy (HTML beside its text) of 1 KiB to 10 MiB is held by another client,
// which the service reads on every pass but leaves where it is.

#include <stdio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "backend_probes.hpp"
#include "bench/process_stats.hpp"
#include "bench/running_service.hpp"
#include "bench/wayland_paste.hpp"
#include "keep_synced.hpp"
#include "log.hpp"
#include "tests/servers/display_namespace.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/servers/watched_process.hpp"
#include "tests/servers/xvfb_server.hpp"
#include "tests/x11clip/x11_clients.hpp"
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
constexpr std::size_t rich_sizes[] = {1 * KiB, 1 * MiB, 10 * MiB};
constexpr double rich_cpu_target_percent = 1.0;

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

struct IdleFigure {
    bool arrived = false;
    double service_percent = 0;
    double servers_percent = 0;
};

// The HTML a browser offers beside `text`.
std::string html_of(const std::string& text) {
    return "<meta charset=\"utf-8\"><pre>" + text + "</pre>";
}

// wl-copy in the foreground, offering `text` as text/html and, beside it, as text, until it is
// destroyed.
class WlCopyOwner {
  public:
    WlCopyOwner(const quillfen::test::WaylandPeer& sway, const std::string& text)
        : wl_copy_({"wl-copy", "--foreground", "--type", "text/html"},
                   {.stdout_mode = WatchOptions::Stdout::discarded,
                    .environment = {"XDG_RUNTIME_DIR=" + sway.runtime_dir,
                                    "WAYLAND_DISPLAY=" + sway.socket_name},
                    .input = text,
                    .discard_stderr = true}) {
        // Waiting also feeds wl-copy its text.
        if (!wl_copy_.wait_until([&] { return offers_html(sway); }, 60s))
            throw std::runtime_error("wl-copy did not take the selection");
    }

    static bool offers_html(const quillfen::test::WaylandPeer& sway) {
        return quillfen::test::wl_offers(sway, "text/html");
    }

  private:
    WatchedProcess wl_copy_;
};

// ScriptedOwner answers each target with one property write, which must fit in one request.
void check_fits_one_request(const XvfbServer& server, const std::string& bytes) {
    const std::size_t limit = quillfen::test::RawClient(server.display()).max_request_bytes();
    if (bytes.size() + 64 > limit)
        throw std::runtime_error(std::to_string(bytes.size()) + " bytes exceed " +
                                 server.display() + "'s request limit of " + std::to_string(limit));
}

bool x_offers_html(const XvfbServer& server) {
    return quillfen::test::xclip_offers(server.display(), "text/html");
}

struct RichFigure {
    std::size_t size = 0;
    const char* where = "";
    double service_percent = 0;
    double servers_percent = 0;
    bool whole = false;   // its owner still offered text/html at the end
    bool arrived = false; // the other displays held its text, before and after the idle period
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

        const bench::RunningService service(sway);
        auto service_ticks = [&] {
            return bench::cpu_ticks(service.supervisor()) + bench::cpu_ticks(service.worker());
        };
        auto server_ticks = [&] {
            return bench::cpu_ticks(first_x.pid()) + bench::cpu_ticks(second_x.pid()) +
                   bench::cpu_ticks(sway.pid());
        };

        // The service's and the servers' CPU over the idle period, in % of a core.
        auto measure_idle = [&] {
            std::this_thread::sleep_for(2s); // the service takes its baseline
            const long service_before = service_ticks();
            const long servers_before = server_ticks();
            const auto start = Clock::now();
            std::this_thread::sleep_for(idle_period);
            const auto length = Clock::now() - start;
            return std::pair(bench::percent_of_a_core(service_ticks() - service_before, length),
                             bench::percent_of_a_core(server_ticks() - servers_before, length));
        };
        auto wait_for = [](const auto& held) {
            const auto deadline = Clock::now() + arrival_limit;
            bool done = false;
            while (!done && Clock::now() < deadline) {
                std::this_thread::sleep_for(500ms);
                done = held();
            }
            return done;
        };

        std::vector<IdleFigure> idle;
        for (const auto& text : texts) {
            IdleFigure figure;
            xclip_copy(first_x, text);
            figure.arrived = wait_for([&] {
                return bench::wayland_paste(sway) == text && xclip_paste(second_x) == text;
            });
            std::tie(figure.service_percent, figure.servers_percent) = measure_idle();
            idle.push_back(figure);
        }

        // A rich copy held by another client: on X a browser-like owner of the first display, on
        // sway wl-copy. The service spreads its text to the others and reads it on every pass.
        // Each owner lives until the next copy has replaced it: one that went away would leave
        // an empty clipboard, a clear that the service would spread over the next copy.
        const quillfen::test::WaylandPeer sway_peer{sway.runtime_dir(), sway.socket_name()};
        std::unique_ptr<quillfen::test::ScriptedOwner> x_owner;
        std::unique_ptr<WlCopyOwner> sway_owner;
        std::vector<RichFigure> rich;
        for (std::size_t size : rich_sizes) {
            {
                const std::string text = text_of(size, "rich copy of " + size_name(size) + " on X");
                const std::string html = html_of(text);
                check_fits_one_request(first_x, html);
                x_owner = std::make_unique<quillfen::test::ScriptedOwner>(
                    first_x.display(), quillfen::test::ScriptedOwner::Script{
                                           .offers = {{"text/html", html}, {"UTF8_STRING", text}}});
                auto others_hold = [&] {
                    return bench::wayland_paste(sway) == text && xclip_paste(second_x) == text;
                };
                RichFigure figure{.size = size, .where = "X"};
                const bool arrived = wait_for(others_hold);
                std::tie(figure.service_percent, figure.servers_percent) = measure_idle();
                figure.whole = x_offers_html(first_x);
                figure.arrived = arrived && others_hold();
                rich.push_back(figure);
            }
            {
                const std::string text =
                    text_of(size, "rich copy of " + size_name(size) + " on sway");
                sway_owner = std::make_unique<WlCopyOwner>(sway_peer, text);
                auto others_hold = [&] {
                    return xclip_paste(first_x) == text && xclip_paste(second_x) == text;
                };
                RichFigure figure{.size = size, .where = "sway"};
                const bool arrived = wait_for(others_hold);
                std::tie(figure.service_percent, figure.servers_percent) = measure_idle();
                figure.whole = WlCopyOwner::offers_html(sway_peer);
                figure.arrived = arrived && others_hold();
                rich.push_back(figure);
            }
        }
        if (service.worker_replaced())
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

        std::printf("\n%-8s | %-5s | %-26s | %-20s | %s\n", "rich", "where",
                    "service idle CPU (15 s)", "X servers + sway", "rich copy, text elsewhere");
        for (const auto& figure : rich)
            std::printf("%-8s | %-5s | %8.2f %% of a core       | %8.2f %%           | %s, %s\n",
                        size_name(figure.size).c_str(), figure.where, figure.service_percent,
                        figure.servers_percent, figure.whole ? "whole" : "NOT whole",
                        figure.arrived ? "arrived" : "NOT arrived");
        auto rich_percent = [&](std::size_t size, const char* where) {
            for (const auto& figure : rich)
                if (figure.size == size && std::string(figure.where) == where)
                    return figure.service_percent;
            return 0.0;
        };
        std::printf("target: service idle CPU with a rich copy of 1 MiB held by another client, "
                    "on X and on sway, within %.0f %% of a core: %s\n",
                    rich_cpu_target_percent,
                    verdict(rich_percent(1 * MiB, "X") <= rich_cpu_target_percent &&
                            rich_percent(1 * MiB, "sway") <= rich_cpu_target_percent));
        std::printf("service idle CPU with a rich copy of 10 MiB held by another client: "
                    "%.2f %% of a core on X, %.2f %% on sway\n",
                    rich_percent(10 * MiB, "X"), rich_percent(10 * MiB, "sway"));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "text_size_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
