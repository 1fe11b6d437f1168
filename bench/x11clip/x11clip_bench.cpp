// Latency of one read and one write of the X11 clipboard layer against Xvfb, and the
// throughput of incremental transfers. Targets: read median <= 1 ms; 10 MB through
// incremental transfer in <= 1 s.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/latency.hpp"
#include "bench/report.hpp"
#include "tests/servers/xvfb_server.hpp"
#include "tests/x11clip/x11_clients.hpp"
#include "x11clip/x11clip.hpp"

namespace {

using namespace bench;

void report(const char* what, Figures f, const char* target) {
    bench::report(what, f, target, 34);
}

void report_throughput(const char* what, std::size_t bytes, double ms) {
    const double mb = static_cast<double>(bytes) / 1e6;
    std::printf("%-34s %6.1f MB in %8.1f ms = %7.1f MB/s, 10 MB in %7.1f ms   (target: 10 MB "
                "<= 1000 ms)\n",
                what, mb, ms, mb / (ms / 1000.0), ms * 10.0 / mb);
}

std::string text_of(std::size_t size) {
    std::string text;
    text.reserve(size);
    for (std::size_t i = 0; text.size() < size; ++i)
        text += "line " + std::to_string(i) + " \u00e4\u00f6\u00fc\n";
    text.resize(size, 'x');
    // Never end inside a character.
    for (std::size_t i = text.size(); i > 0 && (static_cast<unsigned char>(text[i - 1]) & 0x80);
         --i)
        text[i - 1] = 'x';
    return text;
}

template <class T>
T must(std::expected<T, x11clip::ClipboardError> r) {
    if (!r)
        throw std::runtime_error(r.error().message());
    return std::move(*r);
}

void must(std::expected<void, x11clip::ClipboardError> r) {
    if (!r)
        throw std::runtime_error(r.error().message());
}

} // namespace

int main() try {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    using namespace quillfen::test;
    constexpr int rounds = 1000;
    XvfbServer server;
    auto clipboard = must(x11clip::Clipboard::create(server.display()));
    std::printf("x11clip against Xvfb %s, %d rounds each\n", server.display().c_str(), rounds);

    {
        XclipOwner other(server.display(), "a short text owned by xclip");
        report("get (owned by xclip)", measure(rounds, [&] { must(clipboard.get_string()); }),
               "(target: median <= 1 ms)");
    }
    report("set",
           measure(
               rounds, [&] { must(clipboard.set_string("a short text of ours")); }),
           "");
    report("get (owned by us)", measure(rounds, [&] { must(clipboard.get_string()); }),
           "(target: median <= 1 ms)");

    {
        const std::string text = text_of(10'000'000);
        XclipOwner other(server.display(), text);
        RawClient probe(server.display());
        const bool incremental = probe.atom_name(probe.convert("UTF8_STRING").type) == "INCR";
        auto start = Clock::now();
        auto read = must(clipboard.get_string());
        const double ms = Ms(Clock::now() - start).count();
        if (read != text)
            throw std::runtime_error("10 MB text read back wrong");
        report_throughput(incremental ? "get 10 MB from xclip (INCR)" : "get 10 MB from xclip",
                          text.size(), ms);
    }
    {
        // Our owner thread uses incremental transfer from its threshold on, in 4000-byte
        // chunks; a raw requestor takes one such text.
        RawClient reader(server.display());
        const std::string text = text_of(reader.max_request_bytes());
        must(clipboard.set_string(text));
        auto start = Clock::now();
        auto answer = reader.convert("UTF8_STRING");
        const double ms = Ms(Clock::now() - start).count();
        if (answer.bytes != text || answer.chunks.empty())
            throw std::runtime_error("served text arrived wrong or not incrementally");
        report_throughput("serve to a raw client (INCR)", text.size(), ms);

        start = Clock::now();
        auto read = must(clipboard.get_string());
        const double own_ms = Ms(Clock::now() - start).count();
        if (read != text)
            throw std::runtime_error("own text read back wrong");
        report_throughput("get own text (answered from memory, no transfer)", text.size(), own_ms);
    }
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "x11clip_bench: %s\n", e.what());
    return 1;
}
