#include "x11clip/x11clip.hpp"

#include <optional>

#include "x11clip/connection.hpp"
#include "x11clip/owner.hpp"
#include "x11clip/owner_changes.hpp"
#include "x11clip/reader.hpp"

namespace x11clip {

namespace {

// An owner thread past `by` has nothing left that waits; it ends within this.
constexpr std::chrono::milliseconds ending_grace{500};

} // namespace

struct Clipboard::Parts {
    Connection reading;
    std::unique_ptr<Owner> owner;
    AtomNames names;
    LastRead last_read;
};

Clipboard::Clipboard(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}
Clipboard::Clipboard(Clipboard&&) noexcept = default;
Clipboard& Clipboard::operator=(Clipboard&&) noexcept = default;
Clipboard::~Clipboard() = default;

std::expected<Clipboard, ClipboardError> Clipboard::create(std::string_view display) {
    auto reading = Connection::open(display);
    if (!reading)
        return std::unexpected(std::move(reading.error()));
    // Without it every read of another client's copy is a transfer.
    (void)watch_owner_changes(*reading);
    auto serving = Connection::open(display);
    if (!serving)
        return std::unexpected(std::move(serving.error()));
    auto owner = Owner::start(std::move(*serving));
    if (!owner)
        return std::unexpected(std::move(owner.error()));
    return Clipboard(
        std::make_unique<Parts>(Parts{std::move(*reading), std::move(*owner), {}, {}}));
}

namespace {

// Whether the server names `window` as CLIPBOARD's owner now. No answer counts as no.
bool owns_clipboard(const Connection& connection, xcb_window_t window) {
    auto owner = selection_owner(connection);
    return owner && *owner == window;
}

// The text we serve, while the server still names our window as CLIPBOARD's owner. The owner
// is asked after the server, so a text another client took over is never mistaken for ours.
std::optional<Owner::Held> own_text(const Connection& reading, Owner& owner) {
    if (!owns_clipboard(reading, owner.window()))
        return std::nullopt;
    return owner.held();
}

// A failure of a server that one of our time limits cut off is a busy server's, not a lost one's.
template <class T>
std::expected<T, ClipboardError> noting_busy(std::expected<T, ClipboardError> result,
                                             bool timed_out) {
    if (!result && timed_out)
        result.error().busy = true;
    return result;
}

} // namespace

std::expected<std::string, ClipboardError> Clipboard::get_string() {
    // Our own text is answered from memory: reading it back through the server costs a
    // transfer that grows with the text.
    if (auto held = own_text(parts_->reading, *parts_->owner)) {
        if (!held->utf8)
            return std::unexpected(ClipboardError{.kind = ClipboardError::Kind::not_utf8});
        return *held->text;
    }
    return noting_busy(read_clipboard(parts_->reading), timed_out());
}

std::expected<Selection, ClipboardError> Clipboard::read_selection() {
    if (auto held = own_text(parts_->reading, *parts_->owner)) {
        if (!held->utf8)
            return std::unexpected(ClipboardError{.kind = ClipboardError::Kind::not_utf8});
        return Selection{*held->text, false};
    }
    return noting_busy(x11clip::read_selection(parts_->reading, parts_->names, parts_->last_read),
                       timed_out());
}

bool Clipboard::holds_own_text() {
    auto held = own_text(parts_->reading, *parts_->owner);
    return held && held->utf8;
}

std::expected<void, ClipboardError> Clipboard::set_string(std::string_view text) {
    // The server's time is read on the reading connection, whose events are this thread's.
    return noting_busy(parts_->owner->serve(text, parts_->reading), timed_out());
}

void Clipboard::finish_serving(std::chrono::steady_clock::time_point by) {
    parts_->owner->finish(by);
}

void Clipboard::wait_for_serving(std::chrono::steady_clock::time_point by) {
    parts_->owner->wait_ended(by + ending_grace);
}

bool Clipboard::timed_out() const {
    return *parts_->reading.timed_out != 0 || parts_->owner->timed_out();
}

} // namespace x11clip
