// The clipboard of one X11 display: its CLIPBOARD selection as UTF-8 text.
#pragma once

#include <chrono>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "borrow_cell.hpp"
#include "clipboard.hpp"
#include "x11clip/x11clip.hpp"

namespace quillfen {

class X11Clipboard final : public Clipboard {
  public:
    // Connects to `display`; the object keeps its connections for life, or until the display
    // does not answer in time. A display that does not answer in time is busy, not gone: the
    // object is made all the same and connects once it answers.
    static std::expected<std::unique_ptr<X11Clipboard>, MyError> create(std::string display);

    void debug_fmt(Formatter& f) const override;
    std::string display() const override;
    // A broken connection is TerminalClipboard; every other failed read is the empty text.
    std::expected<std::string, MyError> get() override;
    // While the display is busy, the text waits for it and the write succeeds.
    std::expected<void, MyError> set(std::string_view text) override;
    // No owner is the empty text; an owner that gives no UTF-8 text within 2 s is a selection
    // without text; a busy display is one too, tried again every busy_retry, and once it answers
    // holding nothing it gets the text written last; a broken connection or a display that
    // stopped listening is TerminalClipboard.
    std::expected<Content, MyError> read() override;
    // One GetSelectionOwner round trip; the text is not copied.
    std::expected<bool, MyError> holds_own_text() override;
    // The owner refuses every request and finishes its incremental transfers, each given up
    // after x11clip::incr_idle_limit without progress; a busy display serves nothing. A cut
    // transfer lacks its closing chunk, which its requestor sees, so none is counted.
    void finish_serving(std::chrono::steady_clock::time_point by) override;
    CutTransfers wait_for_serving(std::chrono::steady_clock::time_point by) override;

    // Only `create` can make the key.
    class Key {
        friend class X11Clipboard;
        Key() = default;
    };
    X11Clipboard(Key, std::string display, std::optional<x11clip::Clipboard> handle);

  private:
    // Drops the connections of a display that did not answer in time; the next try is due
    // busy_retry from now.
    void set_busy(std::optional<x11clip::Clipboard>& handle);

    std::string display_;
    // None while the display is busy.
    BorrowCell<std::optional<x11clip::Clipboard>> handle_;
    std::chrono::steady_clock::time_point retry_at_{};
    std::optional<std::string> written_; // the text written last
};

} // namespace quillfen
