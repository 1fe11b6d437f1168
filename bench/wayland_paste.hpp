// Reading a compositor's selection from a benchmark, through the project's own Wayland layer.
#pragma once

#include <string>

#include "tests/servers/sway_server.hpp"
#include "wlclip/wlclip.hpp"

namespace bench {

// The text of sway's selection; the empty text when it cannot be read.
inline std::string wayland_paste(const quillfen::test::SwayServer& sway) {
    wlclip::Clipboard clipboard(
        wlclip::Address::in_runtime_dir(sway.runtime_dir().c_str(), sway.socket_name()));
    auto contents = clipboard.get_contents();
    if (!contents)
        return {};
    auto text = wlclip::read_to_end(contents->pipe.get());
    return text ? *text : std::string();
}

} // namespace bench
