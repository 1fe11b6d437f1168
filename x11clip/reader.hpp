// Reading CLIPBOARD as UTF8_STRING through the reading connection.
#pragma once

#include <chrono>
#include <expected>
#include <string>

#include "x11clip/atom_names.hpp"
#include "x11clip/connection.hpp"
#include "x11clip/x11clip.hpp"

namespace x11clip {

// How long one read may take in all, the incremental transfer included.
inline constexpr std::chrono::milliseconds read_timeout{2000};

// The window that owns CLIPBOARD now; XCB_NONE when nobody does.
std::expected<xcb_window_t, ClipboardError> selection_owner(const Connection& connection);

// The owner's text; the empty text when CLIPBOARD has no owner. An owner that refuses
// UTF8_STRING, does not answer in time, or answers in another type or with bytes that are not
// UTF-8 is an error, as is a broken connection.
std::expected<std::string, ClipboardError> read_clipboard(const Connection& connection);

// CLIPBOARD's text, and whether its owner offers more than text by the targets it lists. An owner
// that refuses TARGETS offers text alone.
std::expected<Selection, ClipboardError> read_selection(const Connection& connection,
                                                        AtomNames& names);

} // namespace x11clip
