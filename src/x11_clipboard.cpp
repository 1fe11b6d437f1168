#include "x11_clipboard.hpp"

namespace quillfen {

namespace {

using Clock = std::chrono::steady_clock;

MyError terminal_clipboard(x11clip::ClipboardError error) {
    return MyError::TerminalClipboard{{std::move(error), std::nullopt}};
}

bool busy(const x11clip::ClipboardError& error) {
    return error.busy;
}

} // namespace

X11Clipboard::X11Clipboard(Key, std::string display, std::optional<x11clip::Clipboard> handle)
    : display_(std::move(display)), handle_(std::move(handle)) {
    if (!**handle_.try_borrow())
        retry_at_ = Clock::now() + busy_retry;
}

std::expected<std::unique_ptr<X11Clipboard>, MyError> X11Clipboard::create(std::string display) {
    auto handle = x11clip::Clipboard::create(display);
    if (!handle && !busy(handle.error()))
        return std::unexpected(terminal_clipboard(std::move(handle.error())));
    std::optional<x11clip::Clipboard> connected;
    if (handle)
        connected = std::move(*handle);
    return std::make_unique<X11Clipboard>(Key{}, std::move(display), std::move(connected));
}

void X11Clipboard::debug_fmt(Formatter& f) const {
    f.debug_struct("X11Clipboard").field("display", display_).finish();
}

std::string X11Clipboard::display() const {
    return display_;
}

void X11Clipboard::set_busy(std::optional<x11clip::Clipboard>& handle) {
    // Its connections are of no use once a time limit ended them; what we served there goes
    // with them, and comes back with the text written last.
    handle.reset();
    retry_at_ = Clock::now() + busy_retry;
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
    bool came_back = false;
    if (!**handle) {
        if (Clock::now() < retry_at_)
            return Content::of_busy_display();
        auto connected = x11clip::Clipboard::create(display_);
        if (!connected) {
            if (!busy(connected.error()))
                return std::unexpected(terminal_clipboard(std::move(connected.error())));
            retry_at_ = Clock::now() + busy_retry;
            return Content::of_busy_display();
        }
        **handle = std::move(*connected);
        came_back = true;
    }
    auto selection = (**handle)->read_selection();
    if (!selection) {
        if (busy(selection.error())) {
            set_busy(**handle);
            return Content::of_busy_display();
        }
        // Read as no text, a lost server would leave the loop polling a dead connection; the
        // caller ends with the error and rediscovers instead.
        if (selection.error().kind == x11clip::ClipboardError::Kind::connection)
            return std::unexpected(terminal_clipboard(std::move(selection.error())));
        return Content{};
    }
    // What we served went while it was busy: a display that comes back holding nothing gets
    // the text the others share, rather than spreading an empty clipboard as a clear.
    if (came_back && selection->text.empty() && written_ && !written_->empty()) {
        if (auto put = (**handle)->set_string(*written_); put)
            return Content{*written_};
    }
    return Content{std::move(selection->text), selection->more_than_text};
}

std::expected<bool, MyError> X11Clipboard::holds_own_text() {
    auto handle = handle_.try_borrow();
    if (!handle)
        return std::unexpected(MyError::BorrowError{});
    if (!**handle)
        return false;
    return (**handle)->holds_own_text();
}

std::expected<void, MyError> X11Clipboard::set(std::string_view text) {
    auto handle = handle_.try_borrow_mut();
    if (!handle)
        return std::unexpected(MyError::BorrowMutError{});
    // `text` may be the text written last itself.
    if (!written_ || *written_ != text)
        written_ = std::string(text);
    // A busy display gets the text once it answers.
    if (!**handle)
        return {};
    auto written = (**handle)->set_string(text);
    if (!written) {
        if (busy(written.error())) {
            set_busy(**handle);
            return {};
        }
        return std::unexpected(terminal_clipboard(std::move(written.error())));
    }
    return {};
}

void X11Clipboard::finish_serving(std::chrono::steady_clock::time_point by) {
    auto handle = handle_.try_borrow();
    if (handle && **handle)
        (**handle)->finish_serving(by);
}

CutTransfers X11Clipboard::wait_for_serving(std::chrono::steady_clock::time_point by) {
    auto handle = handle_.try_borrow();
    if (handle && **handle)
        (**handle)->wait_for_serving(by);
    return {};
}

} // namespace quillfen
