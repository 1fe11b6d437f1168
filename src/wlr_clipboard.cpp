#include "wlr_clipboard.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string_view>
#include <utility>

#include "log.hpp"
#include "util/utf8.hpp"

namespace quillfen {

namespace {

using Clock = std::chrono::steady_clock;

// What one read of the selection brought, before `get` and `read` each make their text of it.
struct Fetched {
    // `replaced`: the offer read was no longer the selection when its data ended, so what came
    // may be half a text.
    enum class Kind { bytes, no_selection, no_text_type, gave_up, replaced };
    Kind kind;
    std::shared_ptr<const std::string> own; // for `bytes`: our own offer, while it is the selection
    std::string transferred;                // for `bytes`: else what the owner sent
    bool more_than_text = false;            // for `bytes`: the owner offers other types too
    int code = 0; // for `gave_up`: ETIMEDOUT, or EFBIG for more than wlclip::read_size_limit

    std::string_view bytes() const { return own ? std::string_view(*own) : transferred; }
    std::string take_bytes() { return own ? *own : std::move(transferred); }
};

// Reads the selection of `clipboard`'s compositor. While our own offer is still the selection, its
// bytes need no pipe through the compositor. While `back_off` runs, another owner's selection is
// not read.
std::expected<Fetched, MyError> fetch(wlclip::Clipboard& clipboard, BackOff& back_off) {
    using Kind = Fetched::Kind;
    if (auto own = clipboard.own_selection())
        return Fetched{Kind::bytes, std::move(own), {}};
    if (back_off.length.count() > 0 && Clock::now() < back_off.until)
        return Fetched{Kind::gave_up, nullptr, {}, false, back_off.code};
    // A read that gives up again doubles the back-off; any other outcome ends it.
    const auto previous = std::exchange(back_off.length, std::chrono::milliseconds{0});
    auto contents = clipboard.get_contents();
    if (!contents) {
        const auto& error = contents.error();
        // A compositor without seats has no selection either.
        if (std::holds_alternative<wlclip::paste::ClipboardEmpty>(error) ||
            std::holds_alternative<wlclip::paste::NoSeats>(error))
            return Fetched{Kind::no_selection, nullptr, {}};
        if (std::holds_alternative<wlclip::paste::NoMimeType>(error))
            return Fetched{Kind::no_text_type, nullptr, {}};
        return std::unexpected(MyError::WlcrsPaste{std::move(contents.error())});
    }
    // The pipe closes when `contents` goes, on every path from here.
    auto bytes = contents->read_text();
    if (!bytes) {
        // The owner is there but did not hand over a whole text in time, or within the size
        // limit.
        const int code = bytes.error().code;
        if (code != ETIMEDOUT && code != EFBIG)
            return std::unexpected(MyError::Io{bytes.error()});
        back_off.length =
            previous.count() > 0 ? std::min(2 * previous, BackOff::longest) : BackOff::first;
        back_off.until = Clock::now() + back_off.length;
        back_off.code = code;
        return Fetched{Kind::gave_up, nullptr, {}, false, code};
    }
    if (!contents->selected_at_end())
        return Fetched{Kind::replaced, nullptr, {}};
    return Fetched{Kind::bytes, nullptr, std::move(*bytes), contents->more_than_text};
}

// The failure of the kind `Failure` that a paste or a copy of the layer ended in, if it did. The
// kinds both can end in are one type in each of the two.
template <class Failure>
const Failure* wayland_failure(const MyError& error) {
    if (const auto* paste = std::get_if<MyError::WlcrsPaste>(&error.value))
        return std::get_if<Failure>(&paste->error);
    if (const auto* copy = std::get_if<MyError::WlcrsCopy>(&error.value))
        return std::get_if<Failure>(&copy->error);
    return nullptr;
}

// A compositor that did not answer a round trip in time: busy, not gone.
bool timed_out(const MyError& error) {
    const auto* communication = wayland_failure<wlclip::WaylandCommunication>(error);
    return communication && communication->io.code == ETIMEDOUT;
}

// A compositor whose socket nobody listens on any more, after it was reached, is most often one
// being restarted on the same name (a crash, a new login): it is given this long to come back,
// tried every restart_retry, before it counts as gone.
constexpr std::chrono::seconds restart_grace{10};
constexpr std::chrono::seconds restart_retry{1};

bool not_listening(const MyError& error) {
    const auto* connection = wayland_failure<wlclip::WaylandConnection>(error);
    return connection && connection->kind == wlclip::ConnectError::NoCompositorListening;
}

void print_failure(std::string_view message) {
    std::string line(message);
    line.push_back('\n');
    log::detail::write_stderr_best_effort(line);
}

} // namespace

WlrClipboard::WlrClipboard(std::string display)
    : display_(std::move(display)),
      clipboard_(wlclip::Address::in_runtime_dir(std::getenv("XDG_RUNTIME_DIR"), display_)) {}

void WlrClipboard::debug_fmt(Formatter& f) const {
    f.debug_struct("WlrClipboard").field("display", display_).finish();
}

std::expected<std::string, MyError> WlrClipboard::get() {
    auto fetched = fetch(clipboard_, back_off_);
    if (!fetched)
        return std::unexpected(std::move(fetched.error()));
    switch (fetched->kind) {
    case Fetched::Kind::bytes:
        return util::utf8_lossy(fetched->bytes());
    case Fetched::Kind::no_selection:
    case Fetched::Kind::no_text_type:
    case Fetched::Kind::replaced:
        return std::string{};
    case Fetched::Kind::gave_up:
        break;
    }
    return std::unexpected(MyError::Io{wlclip::IoError{fetched->code}});
}

std::expected<Content, MyError> WlrClipboard::read() {
    const bool was_busy = busy_until_.has_value();
    if (was_busy && Clock::now() < *busy_until_)
        return Content::of_busy_display();
    auto fetched = fetch(clipboard_, back_off_);
    if (!fetched) {
        if (!unanswered(fetched.error()))
            return std::unexpected(std::move(fetched.error()));
        return Content::of_busy_display();
    }
    busy_until_.reset();
    unheard_since_.reset();
    // Back from being busy with our older offer still selected: what was written meanwhile is
    // ours too, and newer. Known from the one answer of the serving thread that the read itself
    // asks for: a second question, asked just before, could go unanswered while this one is not.
    if (was_busy && written_ && fetched->own && *fetched->own != *written_) {
        if (auto put = set(*written_); !put)
            return std::unexpected(std::move(put.error()));
        return Content{*written_};
    }
    // Back from being busy with nothing selected (our offer went while it did not answer): it gets
    // the text written last instead of spreading an empty clipboard as a clear.
    if (was_busy && fetched->kind == Fetched::Kind::no_selection && written_ &&
        !written_->empty() && set(*written_))
        return Content{*written_};
    switch (fetched->kind) {
    case Fetched::Kind::bytes:
        // A converted text is not what was copied.
        if (!util::is_valid_utf8(fetched->bytes()))
            return Content{};
        return Content{fetched->take_bytes(), fetched->more_than_text};
    case Fetched::Kind::no_selection:
        return Content{std::string{}};
    case Fetched::Kind::no_text_type:
    case Fetched::Kind::gave_up:
    case Fetched::Kind::replaced:
        break;
    }
    return Content{};
}

bool WlrClipboard::unanswered(const MyError& error) {
    const auto now = Clock::now();
    if (timed_out(error)) {
        busy_until_ = now + busy_retry;
        return true;
    }
    if (!not_listening(error) || !clipboard_.reached_compositor())
        return false;
    if (!unheard_since_)
        unheard_since_ = now;
    if (now - *unheard_since_ >= restart_grace)
        return false;
    busy_until_ = now + restart_retry;
    return true;
}

std::expected<bool, MyError> WlrClipboard::holds_own_text() {
    if (busy_until_)
        return false;
    auto own = clipboard_.own_selection();
    if (!own)
        return false;
    if (checked_offer_.lock() != own) {
        checked_valid_ = util::is_valid_utf8(*own);
        checked_offer_ = own;
    }
    return checked_valid_;
}

std::expected<void, MyError> WlrClipboard::set(std::string_view text) {
    // `text` may be the text written last itself.
    if (!written_ || *written_ != text)
        written_ = std::string(text);
    // A busy compositor gets the text once it answers.
    if (busy_until_)
        return {};
    auto copied = catch_copy(
        text, [this](std::string bytes) { return clipboard_.copy_text(std::move(bytes)); });
    if (copied)
        return {};
    if (auto* kind = std::get_if<wlclip::copy::Error>(&copied.error())) {
        MyError error = MyError::WlcrsCopy{*kind};
        if (unanswered(error))
            return {};
        return std::unexpected(std::move(error));
    }
    MyError error = MyError::Generic{{AnyPayload{}, std::nullopt}};
    return std::unexpected(std::move(error));
}

void WlrClipboard::finish_serving(std::chrono::steady_clock::time_point by) {
    clipboard_.finish_serving(by);
}

CutTransfers WlrClipboard::wait_for_serving(std::chrono::steady_clock::time_point by) {
    const wlclip::Unfinished cut = clipboard_.wait_for_serving(by);
    return CutTransfers{.transfers = cut.transfers, .missing_bytes = cut.missing_bytes};
}

std::expected<void, CopyFailure> catch_copy(std::string_view text, const CopyFunction& copy) {
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
