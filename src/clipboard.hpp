// The one interface of a clipboard backend, and the ordered list that owns the
// service's clipboards (Wayland ones first, then X11, lower numbers first).
#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "debug_text.hpp"
#include "error.hpp"

namespace quillfen {

// What one read of a clipboard found.
struct Content {
    // A text, the empty one included (a clipboard without any selection reads as the empty text),
    // or none, for a selection that offers no text: an image, an owner that does not answer in
    // time, a type other than UTF-8 text, bytes that are not UTF-8.
    std::optional<std::string> text;
    // The selection offers more than its text: files, an image beside HTML, formatted text. It is
    // the user's own copy, which a write of the text alone would make poorer.
    bool more_than_text = false;
    // The display did not answer in time: it offers no text for now, is tried again within
    // seconds, and the texts written to it meanwhile wait for it.
    bool busy = false;

    friend bool operator==(const Content&, const Content&) = default;

    // What a display that did not answer in time reads as.
    static Content of_busy_display() {
        return Content{.text = std::nullopt, .more_than_text = false, .busy = true};
    }
};

// How soon a display that did not answer in time is tried again.
inline constexpr std::chrono::seconds busy_retry{5};

// Transfers that the end of the process cut short, and the bytes their readers were not sent.
struct CutTransfers {
    std::size_t transfers = 0;
    std::size_t missing_bytes = 0;
};

class Clipboard {
  public:
    virtual ~Clipboard() = default;

    // Writes the object's debug text (list entries, log lines).
    virtual void debug_fmt(Formatter& f) const = 0;
    // The display name: "wayland-N" or ":N".
    virtual std::string display() const = 0;
    virtual std::expected<std::string, MyError> get() = 0;
    virtual std::expected<void, MyError> set(std::string_view text) = 0;
    // Polls once a second until the text differs from the text at the call's
    // start; returns the first error of a read.
    virtual std::expected<std::string, MyError> watch();
    // Whether the clipboard still holds, unchanged, the text this process last wrote there,
    // checked with the display server now: a read would then return exactly that text. The
    // default does not know and says no, so the caller reads.
    virtual std::expected<bool, MyError> holds_own_text();
    // Reads the clipboard, telling a selection without text from a text, and a selection that
    // offers text alone from one that offers more. A broken connection is an error, never any of
    // them. The default knows only `get`, whose result is a text alone.
    virtual std::expected<Content, MyError> read();
    // For a process about to end: no new request is served, and the transfers under way finish
    // by `by`. Every clipboard is asked before any is waited for, so that they finish side by
    // side. The default serves nothing.
    virtual void finish_serving(std::chrono::steady_clock::time_point by);
    // Waits until that is done, a moment past `by` at most. The transfers given up, where a
    // reader could take a cut one for a whole one; the default has none.
    virtual CutTransfers wait_for_serving(std::chrono::steady_clock::time_point by);
};

using ClipboardList = std::vector<std::unique_ptr<Clipboard>>;

inline void debug_fmt(Formatter& f, const Clipboard& clipboard) {
    clipboard.debug_fmt(f);
}

} // namespace quillfen
