#include "x11_clipboard.hpp"

namespace quillfen {

namespace {

MyError terminal_clipboard(x11clip::ClipboardError error) {
    return MyError::TerminalClipboard{{std::move(error), std::nullopt}};
}

} // namespace

X11Clipboard::X11Clipboard(Key, std::string display, x11clip::Clipboard handle)
    : display_(std::move(display)), handle_(std::move(handle)) {}

std::expected<std::unique_ptr<X11Clipboard>, MyError> X11Clipboard::create(std::string display) {
    auto handle = x11clip::Clipboard::create(display);
    if (!handle)
        return std::unexpected(terminal_clipboard(std::move(handle.error())));
    return std::make_unique<X11Clipboard>(Key{}, std::move(display), std::move(*handle));
}

void X11Clipboard::debug_fmt(Formatter& f) const {
    f.debug_struct("X11Clipboard").field("display", display_).finish();
}

std::string X11Clipboard::display() const {
    return display_;
}

std::expected<std::string, MyError> X11Clipboard::get() {
    // A selection without text (no answer in time, another type, bytes that are not UTF-8) is
    // the empty text here.
    auto content = read();
    if (!content)
        return std::unexpected(std::move(content.error()));
    return std::move(content->text).value_or(std::string{});
}

std::expected<Content, MyError> X11Clipboard::read() {
    auto handle = handle_.try_borrow();
    if (!handle)
        return std::unexpected(MyError::BorrowError{});
    auto selection = (*handle)->read_selection();
    if (selection)
        return Content{std::move(selection->text), selection->more_than_text};
    // Read as no text, a lost server would leave the loop polling a dead connection; the
    // caller ends with the error and rediscovers instead.
    if (selection.error().kind == x11clip::ClipboardError::Kind::connection)
        return std::unexpected(terminal_clipboard(std::move(selection.error())));
    return Content{};
}

std::expected<bool, MyError> X11Clipboard::holds_own_text() {
    auto handle = handle_.try_borrow();
    if (!handle)
        return std::unexpected(MyError::BorrowError{});
    return (*handle)->holds_own_text();
}

std::expected<void, MyError> X11Clipboard::set(std::string_view text) {
    auto handle = handle_.try_borrow_mut();
    if (!handle)
        return std::unexpected(MyError::BorrowMutError{});
    auto written = (*handle)->set_string(text);
    if (!written)
        return std::unexpected(terminal_clipboard(std::move(written.error())));
    return {};
}

} // namespace quillfen
