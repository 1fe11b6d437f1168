// Reading CLIPBOARD as UTF8_STRING through the reading connection.
#pragma once

#include <chrono>
#include <expected>
#include <string>

#include "x11clip/connection.hpp"

namespace x11clip {

// How long one read may take in all, the incremental transfer included.
inline constexpr std::chrono::milliseconds read_timeout{2000};

// The owner's text, the empty text when CLIPBOARD has no owner or the owner refused.
std::expected<std::string, ClipboardError> read_clipboard(const Connection& connection);

} // namespace x11clip
