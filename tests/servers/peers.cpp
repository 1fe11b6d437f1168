#include "tests/servers/peers.hpp"

#include <stdexcept>
#include <utility>

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

// What a reading program printed, when it succeeded.
std::optional<std::string> output_of(RunResult result) {
    if (!result.succeeded())
        return std::nullopt;
    return std::move(result.out);
}

// Whether `types`, one a line, hold `type`.
bool lists(const std::optional<std::string>& types, std::string_view type) {
    if (!types)
        return false;
    for (std::string_view rest = *types; !rest.empty();) {
        const auto end = rest.find('\n');
        if (rest.substr(0, end) == type)
            return true;
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    return false;
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

std::optional<std::string> xclip_paste(const std::string& display,
                                       std::chrono::milliseconds limit) {
    return output_of(xclip_read(display, "", limit));
}

std::optional<std::string> xclip_targets(const std::string& display) {
    return output_of(xclip_read(display, "TARGETS", 5s));
}

bool xclip_offers(const std::string& display, std::string_view type) {
    return lists(xclip_targets(display), type);
}

bool xclip_finds_no_owner(const std::string& display) {
    WatchOptions options = x_client(display);
    options.discard_stderr = false;
    const auto result =
        run({"xclip", "-selection", "clipboard", "-out", "-t", "TARGETS"}, options, 5s);
    // xclip's word for a selection nobody owns; an owner answers TARGETS.
    return result.exit_status == 1 &&
           result.err.find("target TARGETS not available") != std::string::npos;
}

void xclip_copy_primary(const std::string& display, std::string_view text) {
    copy({"xclip", "-selection", "primary", "-in"}, x_client(display), text);
}

std::optional<std::string> xclip_paste_primary(const std::string& display) {
    return output_of(run({"xclip", "-selection", "primary", "-out"}, x_client(display), 5s));
}

void wl_copy(const WaylandPeer& compositor, std::string_view bytes,
             const std::vector<std::string>& args) {
    std::vector<std::string> argv{"wl-copy"};
    argv.insert(argv.end(), args.begin(), args.end());
    copy(argv, wayland_client(compositor), bytes);
}

std::optional<std::string> wl_paste(const WaylandPeer& compositor,
                                    const std::vector<std::string>& args,
                                    std::chrono::milliseconds limit) {
    std::vector<std::string> argv{"wl-paste", "--no-newline"};
    argv.insert(argv.end(), args.begin(), args.end());
    return output_of(run(argv, wayland_client(compositor), limit));
}

bool wl_offers(const WaylandPeer& compositor, std::string_view type) {
    return lists(wl_paste(compositor, {"--list-types"}), type);
}

std::string shown(const std::optional<std::string>& read) {
    return read ? "\"" + *read + "\"" : "(the read failed)";
}

std::string shell(const std::string& command, const std::string& input) {
    auto result = run({"/bin/sh", "-c", command}, {.input = input}, 20s);
    if (!result.succeeded())
        throw std::runtime_error("`" + command + "` failed");
    return result.out;
}

} // namespace quillfen::test
