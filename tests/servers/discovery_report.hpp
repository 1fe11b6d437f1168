// What the suites that run discovery assert about it: the warning about X11 displays without a
// server, and the names of the clipboards it found.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "clipboard.hpp"

namespace quillfen::test {

// The one warning at the end of the X11 probe, naming the displays without a server.
inline std::string x11_report(const std::string& numbers) {
    return " WARN - Issue connecting to some x11 clipboards. This is expected when hooking up to "
           "gnome wayland, and not a problem in that context. Details: 'clipboard error: X11 "
           "clipboard error : XCB connection error: Connection' for x11 displays: " +
           numbers;
}

// The names of `clipboards` in order, each as `name_of` gives it: &Clipboard::display, or a
// way of a test's own clipboards that leaves no trace of the call.
template <class NameOf>
std::vector<std::string> names(const ClipboardList& clipboards, NameOf name_of) {
    std::vector<std::string> result;
    for (const auto& clipboard : clipboards)
        result.push_back(std::invoke(name_of, *clipboard));
    return result;
}

} // namespace quillfen::test
