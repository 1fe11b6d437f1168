#include "tests/servers/peers.hpp"

#include <stdexcept>

namespace quillfen::test {

namespace {

using namespace std::chrono_literals;

WatchOptions x_client(const std::string& display) {
    return {.environment = {"DISPLAY=" + display}, .discard_stderr = true};
}

WatchOptions wayland_client(const WaylandPeer& compositor) {
    WatchOptions options{.discard_stderr = true};
    if (!compositor.runtime_dir.empty())
        options.environment = {"XDG_RUNTIME_DIR=" + compositor.runtime_dir,
                               "WAYLAND_DISPLAY=" + compositor.socket_name};
    return options;
}

// The copying programs leave a server behind that must keep serving, and must hold no pipe
// of ours.
void copy(const std::vector<std::string>& argv, WatchOptions options, std::string_view input) {
    options.stdout_mode = WatchOptions::Stdout::discarded;
    options.input = std::string(input);
    options.leave_descendants = true;
    if (!run(argv, options).succeeded())
        throw std::runtime_error(argv[0] + " failed");
}

} // namespace

void xclip_copy(const std::string& display, std::string_view text) {
    copy({"xclip", "-selection", "clipboard", "-in"}, x_client(display), text);
}

void xclip_copy_as(const std::string& display, const std::string& type, std::string_view bytes) {
    copy({"xclip", "-selection", "clipboard", "-t", type, "-in"}, x_client(display), bytes);
}

RunResult xclip_read(const std::string& display, const std::string& target,
                     std::chrono::milliseconds limit) {
    std::vector<std::string> argv{"xclip", "-selection", "clipboard", "-out"};
    if (!target.empty())
        argv.insert(argv.end(), {"-t", target});
    return run(argv, x_client(display), limit);
}

std::string xclip_paste(const std::string& display, std::chrono::milliseconds limit) {
    auto result = xclip_read(display, "", limit);
    return result.succeeded() ? result.out : "";
}

void xclip_copy_primary(const std::string& display, std::string_view text) {
    copy({"xclip", "-selection", "primary", "-in"}, x_client(display), text);
}

std::string xclip_paste_primary(const std::string& display) {
    auto result = run({"xclip", "-selection", "primary", "-out"}, x_client(display), 5s);
    return result.succeeded() ? result.out : "";
}

std::string xclip_targets(const std::string& display) {
    auto result = xclip_read(display, "TARGETS", 5s);
    return result.succeeded() ? result.out : "";
}

void wl_copy(const WaylandPeer& compositor, std::string_view bytes,
             const std::vector<std::string>& args) {
    std::vector<std::string> argv{"wl-copy"};
    argv.insert(argv.end(), args.begin(), args.end());
    copy(argv, wayland_client(compositor), bytes);
}

std::string wl_paste(const WaylandPeer& compositor, const std::vector<std::string>& args,
                     std::chrono::milliseconds limit) {
    std::vector<std::string> argv{"wl-paste", "--no-newline"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto result = run(argv, wayland_client(compositor), limit);
    return result.succeeded() ? result.out : "";
}

std::string shell(const std::string& command, const std::string& input) {
    auto result = run({"/bin/sh", "-c", command}, {.input = input}, 20s);
    if (!result.succeeded())
        throw std::runtime_error("`" + command + "` failed");
    return result.out;
}

} // namespace quillfen::test
