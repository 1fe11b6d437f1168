#include "wlr_clipboard.hpp"

#include <stdlib.h>

#include <cerrno>

#include <exception>

#include "log.hpp"
#include "util/utf8.hpp"

namespace quillfen {

namespace {

// The reads that find nothing to read: the empty text, not an error.
bool reads_as_empty(const wlclip::paste::Error& error) {
    return std::holds_alternative<wlclip::paste::NoSeats>(error) ||
           std::holds_alternative<wlclip::paste::ClipboardEmpty>(error) ||
           std::holds_alternative<wlclip::paste::NoMimeType>(error);
}

// The bytes as a text, or none when they are not UTF-8: a converted text is not what was copied.
Content text_of(std::string bytes) {
    if (!util::is_valid_utf8(bytes))
        return std::nullopt;
    return Content{std::move(bytes)};
}

void print_failure(std::string_view message) {
    std::string line(message);
    line.push_back('\n');
    log::detail::write_stderr_best_effort(line);
}

} // namespace

void WlrClipboard::debug_fmt(Formatter& f) const {
    f.debug_struct("WlrClipboard").field("display", display_).finish();
}

std::expected<std::string, MyError> WlrClipboard::get() {
    // The layer connects to the compositor that the environment names.
    ::setenv("WAYLAND_DISPLAY", display_.c_str(), 1);
    // While our own offer is still the selection, its text needs no pipe through the
    // compositor; it goes through the same conversion a transfer's bytes would.
    if (auto own = wlclip::own_selection())
        return util::utf8_lossy(*own);
    auto contents = wlclip::get_contents();
    if (!contents) {
        if (reads_as_empty(contents.error()))
            return std::string{};
        return std::unexpected(MyError::WlcrsPaste{std::move(contents.error())});
    }
    // The pipe closes when `contents` goes, on every path from here.
    auto bytes = wlclip::read_to_end(contents->pipe.get());
    if (!bytes)
        return std::unexpected(MyError::Io{bytes.error()});
    return util::utf8_lossy(*bytes);
}

std::expected<Content, MyError> WlrClipboard::read() {
    ::setenv("WAYLAND_DISPLAY", display_.c_str(), 1);
    if (auto own = wlclip::own_selection())
        return text_of(*own);
    auto contents = wlclip::get_contents();
    if (!contents) {
        const auto& error = contents.error();
        // A compositor without seats has no selection either.
        if (std::holds_alternative<wlclip::paste::ClipboardEmpty>(error) ||
            std::holds_alternative<wlclip::paste::NoSeats>(error))
            return Content{std::string{}};
        if (std::holds_alternative<wlclip::paste::NoMimeType>(error))
            return std::nullopt;
        return std::unexpected(MyError::WlcrsPaste{std::move(contents.error())});
    }
    auto bytes = wlclip::read_to_end(contents->pipe.get());
    if (!bytes) {
        // The owner is there but did not hand over a whole text in time.
        if (bytes.error().code == ETIMEDOUT)
            return std::nullopt;
        return std::unexpected(MyError::Io{bytes.error()});
    }
    return text_of(std::move(*bytes));
}

std::expected<bool, MyError> WlrClipboard::holds_own_text() {
    ::setenv("WAYLAND_DISPLAY", display_.c_str(), 1);
    auto own = wlclip::own_selection();
    if (!own)
        return false;
    if (checked_offer_.lock() != own) {
        checked_valid_ = util::is_valid_utf8(*own);
        checked_offer_ = own;
    }
    return checked_valid_;
}

std::expected<void, MyError> WlrClipboard::set(std::string_view text) {
    ::setenv("WAYLAND_DISPLAY", display_.c_str(), 1);
    auto copied = catch_copy(text);
    if (copied)
        return {};
    if (auto* kind = std::get_if<wlclip::copy::Error>(&copied.error())) {
        MyError error = MyError::WlcrsCopy{*kind};
        return std::unexpected(std::move(error));
    }
    MyError error = MyError::Generic{{AnyPayload{}, std::nullopt}};
    return std::unexpected(std::move(error));
}

std::expected<void, CopyFailure> catch_copy(std::string_view text, CopyFunction copy) {
    std::expected<void, wlclip::copy::Error> copied;
    try {
        copied = copy(std::string(text));
    } catch (const std::exception& e) {
        print_failure(e.what());
        return std::unexpected(AnyPayload{});
    } catch (...) {
        print_failure("the clipboard copy failed");
        return std::unexpected(AnyPayload{});
    }
    if (!copied)
        return std::unexpected(copied.error());
    return {};
}

} // namespace quillfen
