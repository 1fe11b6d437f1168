// Latency of one get and one set of the Wayland backend against headless sway,
// and sway's own CPU time per 1,000 reads. Targets: read median <= 2 ms, write median <= 2 ms.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/latency.hpp"
#include "debug_text.hpp"
#include "error.hpp"
#include "tests/servers/sway_server.hpp"
#include "wlr_clipboard.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

using bench::Figures;
using bench::measure;

void report(const char* what, Figures f, const char* target) {
    std::printf("%-28s median %8.3f ms   p95 %8.3f ms   %s\n", what, f.median_ms, f.p95_ms, target);
}

// User plus system time of a process, in milliseconds.
double cpu_ms(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i)
        fields >> skip;
    double utime = 0, stime = 0;
    fields >> utime >> stime;
    return (utime + stime) * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
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
    double before = cpu_ms(sway.pid());
    auto start = Clock::now();
    for (int i = 0; i < 1000; ++i)
        get();
    double wall = Ms(Clock::now() - start).count();
    std::printf("sway CPU time per 1000 gets: %.0f ms (wall %.0f ms)\n",
                cpu_ms(sway.pid()) - before, wall);
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "wlclip_bench: %s\n", e.what());
    return 1;
}
