// Our X11 clipboard layer: the CLIPBOARD selection of one display as UTF-8 text.
#pragma once

#include <chrono>
#include <expected>
#include <memory>
#include <string>
#include <string_view>

#include "x11clip/error.hpp"

namespace x11clip {

// CLIPBOARD's text, and whether its owner offers more than text: files, an image beside HTML,
// formatted text.
struct Selection {
    std::string text;
    bool more_than_text = false;
};

// Two connections to one display: one to read, one that owns CLIPBOARD and whose owner
// thread serves the text written last.
class Clipboard {
  public:
    // Connects to `display`, e.g. ":1" or ":1.0"; the clipboard serves that display for life.
    static std::expected<Clipboard, ClipboardError> create(std::string_view display);

    Clipboard(Clipboard&&) noexcept;
    Clipboard& operator=(Clipboard&&) noexcept;
    // Closes the reading connection, ends the owner thread and closes the serving one.
    ~Clipboard();

    // CLIPBOARD's text; the empty text when it has no owner. An owner that offers no text (it
    // refuses UTF8_STRING, sends another type or bytes that are not UTF-8) is an error, as is
    // one that does not answer within 2 seconds or sends more than 96 MiB.
    std::expected<std::string, ClipboardError> get_string();

    // CLIPBOARD's text as get_string reads it, and whether its owner offers more than text.
    std::expected<Selection, ClipboardError> read_selection();

    // Whether CLIPBOARD still holds the text we serve, as valid UTF-8: get_string would then
    // return it unchanged. One round trip, no transfer; no answer counts as no.
    bool holds_own_text();

    // Every failure of a server that did not answer in time is marked `busy`.

    // Owns CLIPBOARD with the text; succeeds once the server names us as the owner.
    std::expected<void, ClipboardError> set_string(std::string_view text);

    // For a process about to end: the owner refuses every request from now on and finishes the
    // incremental transfers under way by `by`, each given up after incr_idle_limit without
    // progress; its thread ends then.
    void finish_serving(std::chrono::steady_clock::time_point by);
    // Waits until the owner thread has ended, a moment past `by` at most.
    void wait_for_serving(std::chrono::steady_clock::time_point by);

  private:
    // Whether a time limit ended one of the connections: the server did not answer in time.
    bool timed_out() const;

    struct Parts;
    explicit Clipboard(std::unique_ptr<Parts> parts);
    std::unique_ptr<Parts> parts_;
};

} // namespace x11clip
