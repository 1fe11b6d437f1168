// The user's own clipboard programs: xclip on an X display, wl-copy and wl-paste on a
// compositor. Copies return once the program serves the text from its background process.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace quillfen::testing {

struct WaylandPeer {
    std::string runtime_dir;
    std::string socket_name;
};

void xclip_copy(const std::string& display, std::string_view text);
// The empty text when the clipboard has no owner or cannot be read within `limit`.
std::string xclip_paste(const std::string& display,
                        std::chrono::milliseconds limit = std::chrono::seconds(5));
// Copies `bytes` offered only as `type` (an image, say).
void xclip_copy_as(const std::string& display, const std::string& type, std::string_view bytes);
// The types the clipboard's owner offers, one a line; empty without an owner.
std::string xclip_targets(const std::string& display);

void wl_copy(const WaylandPeer& compositor, std::string_view text);
std::string wl_paste(const WaylandPeer& compositor,
                     std::chrono::milliseconds limit = std::chrono::seconds(5));

} // namespace quillfen::testing
