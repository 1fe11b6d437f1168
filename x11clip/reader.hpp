// Reading CLIPBOARD as UTF8_STRING through the reading connection.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>

#include "x11clip/atom_names.hpp"
#include "x11clip/connection.hpp"
#include "x11clip/x11clip.hpp"

namespace x11clip {

// How long one read may take in all, the incremental transfer included.
inline constexpr std::chrono::milliseconds read_timeout{2000};
// How many bytes one read may take: an owner that never ends its transfer would otherwise fill
// the reader's memory before read_timeout ends the read. Well above the longest text the service
// carries (64 MiB).
inline constexpr std::size_t read_size_limit = std::size_t{96} << 20;

// The window that owns CLIPBOARD now; XCB_NONE when nobody does.
std::expected<xcb_window_t, ClipboardError> selection_owner(const Connection& connection);

// The owner's text; the empty text when CLIPBOARD has no owner. An owner that refuses
// UTF8_STRING, does not answer in time, answers with more than read_size_limit bytes, in another
// type or with bytes that are not UTF-8 is an error, as is a broken connection.
std::expected<std::string, ClipboardError> read_clipboard(const Connection& connection);

// What the last read of another client's window brought: its selection, or the error of a read
// that gave up on it as too large; and the count of the connection's owner changes then.
struct LastRead {
    xcb_window_t owner = XCB_NONE;
    std::uint64_t owner_changes = 0;
    std::optional<std::expected<Selection, ClipboardError>> outcome;
};

// CLIPBOARD's text, and whether its owner offers more than text by the targets it lists. An owner
// that refuses TARGETS offers text alone. While the window of `last` still owns CLIPBOARD and the
// connection saw no change of owner since (owner_changes.hpp), `last` is the answer, without a
// transfer: a copy is read once, and an owner that sends without end costs one read per copy.
std::expected<Selection, ClipboardError> read_selection(const Connection& connection,
                                                        AtomNames& names, LastRead& last);

} // namespace x11clip
