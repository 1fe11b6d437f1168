// The user's own clipboard programs: xclip on an X display, wl-copy and wl-paste on a
// compositor. Copies return once the program serves the text from its background process.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/servers/watched_process.hpp"

namespace quillfen::test {

// A compositor to reach; the empty one is the compositor this process's environment names.
struct WaylandPeer {
    std::string runtime_dir;
    std::string socket_name;
};
inline const WaylandPeer environment_compositor{};

// Throws std::runtime_error when xclip fails.
void xclip_copy(const std::string& display, std::string_view text);
// Copies `bytes` offered only as `type` (an image, say).
void xclip_copy_as(const std::string& display, const std::string& type, std::string_view bytes);
// `xclip -o` of CLIPBOARD converted to `target` (its own default when empty).
RunResult xclip_read(const std::string& display, const std::string& target = "UTF8_STRING",
                     std::chrono::milliseconds limit = std::chrono::seconds(30));
// The text of CLIPBOARD; none when xclip fails (the clipboard has no owner, the owner refuses,
// the server is out of reach) or takes over `limit`. A failed read is never an empty text.
std::optional<std::string> xclip_paste(const std::string& display,
                                       std::chrono::milliseconds limit = std::chrono::seconds(5));
// The types the clipboard's owner offers, one a line; none when xclip fails.
std::optional<std::string> xclip_targets(const std::string& display);
// Whether the owner of CLIPBOARD offers `type`; false when the types cannot be read.
bool xclip_offers(const std::string& display, std::string_view type);
// Whether xclip reached the server and found nobody owning CLIPBOARD there.
bool xclip_finds_no_owner(const std::string& display);

// The same two on PRIMARY, the selection a middle click pastes.
void xclip_copy_primary(const std::string& display, std::string_view text);
std::optional<std::string> xclip_paste_primary(const std::string& display);

// wl-copy with `args`; throws std::runtime_error when it fails.
void wl_copy(const WaylandPeer& compositor, std::string_view bytes,
             const std::vector<std::string>& args = {});
// wl-paste without its added newline; none when it fails (nothing is selected, the compositor
// is out of reach) or takes over `limit`.
std::optional<std::string> wl_paste(const WaylandPeer& compositor,
                                    const std::vector<std::string>& args = {},
                                    std::chrono::milliseconds limit = std::chrono::seconds(5));

// Whether the compositor's selection offers `type`; false when the types cannot be read.
bool wl_offers(const WaylandPeer& compositor, std::string_view type);

// A read's result for a failure message: the text quoted, or that the read failed.
std::string shown(const std::optional<std::string>& read);

// `command` through /bin/sh with `input` on its standard input; its standard output. Throws
// std::runtime_error on a non-zero status or after 20 s.
std::string shell(const std::string& command, const std::string& input = "");

} // namespace quillfen::test
