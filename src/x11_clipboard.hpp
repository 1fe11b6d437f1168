// The clipboard of one X11 display: its CLIPBOARD selection as UTF-8 text.
#pragma once

#include <expected>
#include <memory>
#include <string>
#include <string_view>

#include "borrow_cell.hpp"
#include "clipboard.hpp"
#include "x11clip/x11clip.hpp"

namespace quillfen {

class X11Clipboard final : public Clipboard {
  public:
    // Connects to `display`; the object keeps its connections for life.
    static std::expected<std::unique_ptr<X11Clipboard>, MyError> create(std::string display);

    void debug_fmt(Formatter& f) const override;
    std::string display() const override;
    // A broken connection is TerminalClipboard; every other failed read is the empty text.
    std::expected<std::string, MyError> get() override;
    std::expected<void, MyError> set(std::string_view text) override;
    // No owner is the empty text; an owner that gives no UTF-8 text within 2 s is a selection
    // without text; a broken connection is TerminalClipboard.
    std::expected<Content, MyError> read() override;
    // One GetSelectionOwner round trip; the text is not copied.
    std::expected<bool, MyError> holds_own_text() override;

    // Only `create` can make the key.
    class Key {
        friend class X11Clipboard;
        Key() = default;
    };
    X11Clipboard(Key, std::string display, x11clip::Clipboard handle);

  private:
    std::string display_;
    BorrowCell<x11clip::Clipboard> handle_;
};

} // namespace quillfen
