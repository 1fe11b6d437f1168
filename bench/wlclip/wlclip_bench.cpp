// Latency of one get and one set of the Wayland backend against headless sway,
// and sway's own CPU time per 1,000 reads. Targets: read median <= 2 ms, write median <= 2 ms.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/latency.hpp"
#include "bench/process_stats.hpp"
#include "bench/report.hpp"
#include "debug_text.hpp"
#include "error.hpp"
#include "tests/servers/sway_server.hpp"
#include "wlr_clipboard.hpp"

namespace {

using namespace bench;

void report(const char* what, Figures f, const char* target) {
    bench::report(what, f, target, 28);
}

quillfen::WlrClipboard* clipboard = nullptr;

void get() {
    if (auto text = clipboard->get(); !text)
        throw std::runtime_error("get failed: " + quillfen::debug_text(text.error()));
}

void set(const std::string& text) {
    if (auto done = clipboard->set(text); !done)
        throw std::runtime_error("set failed: " + quillfen::debug_text(done.error()));
}

} // namespace

int main() try {
    quillfen::test::SwayServer sway;
    ::unsetenv("WAYLAND_SOCKET");
    ::setenv("XDG_RUNTIME_DIR", sway.runtime_dir().c_str(), 1);
    ::setenv("WAYLAND_DISPLAY", sway.socket_name().c_str(), 1); // for wl-copy
    quillfen::WlrClipboard wlr(sway.socket_name());
    clipboard = &wlr;

    const std::string text = "a line of clipboard text, as a user would copy it\n";
    set(text);
    report("get (served by this process)", measure(1000, [] { get(); }),
           "(target: median <= 2 ms)");
    if (std::system("printf 'served by wl-copy' | wl-copy >/dev/null 2>&1") != 0)
        throw std::runtime_error("wl-copy failed");
    report("get (served by wl-copy)", measure(1000, [] { get(); }), "(target: median <= 2 ms)");
    int n = 0;
    report("set", measure(500, [&] { set(text + std::to_string(n++)); }),
           "(target: median <= 2 ms)");

    set(text);
    double before = bench::cpu_ms(sway.pid());
    auto start = Clock::now();
    for (int i = 0; i < 1000; ++i)
        get();
    double wall = Ms(Clock::now() - start).count();
    std::printf("sway CPU time per 1000 gets: %.0f ms (wall %.0f ms)\n",
                bench::cpu_ms(sway.pid()) - before, wall);
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "wlclip_bench: %s\n", e.what());
    return 1;
}
