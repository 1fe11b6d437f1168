#include "x11clip/reader.hpp"

#include <poll.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <vector>

#include "util/bounded_bytes.hpp"
#include "util/poll_timeout.hpp"
#include "util/text_types.hpp"
#include "util/utf8.hpp"
#include "x11clip/causes.hpp"

namespace x11clip {

namespace {

using Clock = std::chrono::steady_clock;

// The next event, waiting on the connection's descriptor for at most the time left;
// an empty pointer when the deadline passed.
std::expected<EventPtr, ClipboardError> next_event(const Connection& reading,
                                                   Clock::time_point deadline) {
    xcb_connection_t* connection = reading.get();
    for (;;) {
        if (EventPtr event{xcb_poll_for_event(connection)}) {
            reading.notice(*event);
            return event;
        }
        if (xcb_connection_has_error(connection) != 0)
            return std::unexpected(connection_error(connection));
        const int timeout = util::poll_timeout(deadline);
        if (timeout == 0)
            return EventPtr{};
        pollfd descriptor{xcb_get_file_descriptor(connection), POLLIN, 0};
        if (::poll(&descriptor, 1, timeout) < 0 && errno != EINTR)
            return std::unexpected(connection_error(XCB_CONN_ERROR));
    }
}

ClipboardError timed_out() {
    return ClipboardError{.kind = ClipboardError::Kind::timed_out};
}

ClipboardError too_large() {
    return ClipboardError{.kind = ClipboardError::Kind::too_large};
}

ClipboardError unexpected_type(xcb_atom_t type) {
    return ClipboardError{.kind = ClipboardError::Kind::unexpected_type, .code = type};
}

// A window of one read's own, a child of the reading window. Its property receives the
// answer; destroying it when the read ends, finished or given up, deletes what an owner
// still sends there and ends its transfer. Events for the windows of earlier reads are
// known by their window and dropped, so a late chunk never becomes a later read's answer.
class ReadWindow {
  public:
    explicit ReadWindow(const Connection& connection)
        : connection_(connection), xcb_(connection.get()), id_(xcb_generate_id(xcb_)) {
        if (id_ == static_cast<xcb_window_t>(-1)) // the connection has failed
            return;
        const std::uint32_t event_mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(xcb_, 0, id_, connection.window, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &event_mask);
    }
    ~ReadWindow() {
        if (!created())
            return;
        xcb_destroy_window(xcb_, id_);
        const auto bound = connection_.bounded();
        xcb_flush(xcb_);
    }
    ReadWindow(const ReadWindow&) = delete;
    ReadWindow& operator=(const ReadWindow&) = delete;

    bool created() const { return id_ != static_cast<xcb_window_t>(-1); }
    xcb_window_t id() const { return id_; }

  private:
    const Connection& connection_;
    xcb_connection_t* xcb_;
    xcb_window_t id_;
};

// Reads and deletes the read's property; the deletion is what asks an incremental sender
// for its next chunk. A value longer than `limit` bytes is too large: only a byte more is
// fetched, and the property stays.
std::expected<XcbPtr<xcb_get_property_reply_t>, ClipboardError>
take_property(const Connection& connection, const ReadWindow& window, std::size_t limit) {
    const auto bound = connection.bounded();
    const auto units = static_cast<std::uint32_t>(limit / 4 + 1);
    auto cookie =
        xcb_get_property(connection.get(), 1, window.id(), connection.atoms.this_clipboard_out,
                         XCB_GET_PROPERTY_TYPE_ANY, 0, units);
    xcb_generic_error_t* raw_error = nullptr;
    XcbPtr<xcb_get_property_reply_t> reply{
        xcb_get_property_reply(connection.get(), cookie, &raw_error)};
    XcbPtr<xcb_generic_error_t> error{raw_error};
    if (!reply)
        return std::unexpected(reply_error(connection.get(), error.get()));
    if (reply->bytes_after != 0 ||
        static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) > limit)
        return std::unexpected(too_large());
    return reply;
}

std::string_view property_bytes(const xcb_get_property_reply_t& reply) {
    return {static_cast<const char*>(xcb_get_property_value(&reply)),
            static_cast<std::size_t>(xcb_get_property_value_length(&reply))};
}

// Chunk after chunk, one per new value of the property, until the empty chunk; too large once
// the chunks pass read_size_limit.
std::expected<std::string, ClipboardError> receive_incrementally(const Connection& connection,
                                                                 const ReadWindow& window,
                                                                 Clock::time_point deadline) {
    util::BoundedBytes text(read_size_limit);
    for (;;) {
        auto event = next_event(connection, deadline);
        if (!event)
            return std::unexpected(std::move(event.error()));
        if (!*event)
            return std::unexpected(timed_out());
        if (event_type(**event) != XCB_PROPERTY_NOTIFY)
            continue;
        const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(**event);
        if (notify.window != window.id() || notify.atom != connection.atoms.this_clipboard_out ||
            notify.state != XCB_PROPERTY_NEW_VALUE)
            continue;
        auto chunk = take_property(connection, window, text.room());
        if (!chunk)
            return std::unexpected(std::move(chunk.error()));
        auto bytes = property_bytes(**chunk);
        if (bytes.empty())
            return text.take();
        if ((*chunk)->type != connection.atoms.utf8_string)
            return std::unexpected(unexpected_type((*chunk)->type));
        if (!text.append(bytes))
            return std::unexpected(too_large());
    }
}

// Drops what earlier reads left queued: it concerns their windows, never this read's.
void drop_queued_events(const Connection& connection) {
    while (EventPtr event{xcb_poll_for_event(connection.get())})
        connection.notice(*event);
}

} // namespace

std::expected<xcb_window_t, ClipboardError> selection_owner(const Connection& connection) {
    const auto bound = connection.bounded();
    auto cookie = xcb_get_selection_owner(connection.get(), connection.atoms.clipboard);
    xcb_generic_error_t* raw_error = nullptr;
    XcbPtr<xcb_get_selection_owner_reply_t> reply{
        xcb_get_selection_owner_reply(connection.get(), cookie, &raw_error)};
    XcbPtr<xcb_generic_error_t> error{raw_error};
    if (!reply)
        return std::unexpected(reply_error(connection.get(), error.get()));
    return reply->owner;
}

namespace {

// Asks CLIPBOARD's owner for `target` into the property of `window` and waits for the answer: the
// property's value, or none when there is no owner or the owner refused.
std::expected<std::optional<XcbPtr<xcb_get_property_reply_t>>, ClipboardError>
request(const Connection& connection, const ReadWindow& window, xcb_atom_t target,
        Clock::time_point deadline) {
    xcb_connection_t* xcb = connection.get();
    const Atoms& atoms = connection.atoms;
    if (!window.created())
        return std::unexpected(connection_error(xcb));
    {
        const auto bound = connection.bounded();
        xcb_convert_selection(xcb, window.id(), atoms.clipboard, target, atoms.this_clipboard_out,
                              XCB_CURRENT_TIME);
        if (xcb_flush(xcb) <= 0)
            return std::unexpected(connection_error(xcb));
    }
    std::optional<xcb_selection_notify_event_t> answer;
    while (!answer) {
        auto event = next_event(connection, deadline);
        if (!event)
            return std::unexpected(std::move(event.error()));
        if (!*event)
            return std::unexpected(timed_out());
        if (event_type(**event) != XCB_SELECTION_NOTIFY)
            continue;
        const auto& notify = reinterpret_cast<const xcb_selection_notify_event_t&>(**event);
        if (notify.requestor == window.id() && notify.selection == atoms.clipboard)
            answer = notify;
    }
    if (answer->property == XCB_NONE)
        return std::nullopt;
    auto reply = take_property(connection, window, read_size_limit);
    if (!reply)
        return std::unexpected(std::move(reply.error()));
    return std::move(*reply);
}

std::expected<std::string, ClipboardError> read_text(const Connection& connection,
                                                     Clock::time_point deadline) {
    const Atoms& atoms = connection.atoms;
    ReadWindow window(connection);
    auto answer = request(connection, window, atoms.utf8_string, deadline);
    if (!answer)
        return std::unexpected(std::move(answer.error()));
    if (!*answer) {
        // No owner, or an owner that holds something it cannot give as UTF8_STRING (an image):
        // only the first is the empty text.
        auto owner = selection_owner(connection);
        if (!owner)
            return std::unexpected(std::move(owner.error()));
        if (*owner == XCB_NONE)
            return std::string{};
        return std::unexpected(ClipboardError{.kind = ClipboardError::Kind::refused});
    }
    const auto& reply = **answer;
    std::string text;
    if (reply->type == atoms.incr) {
        auto received = receive_incrementally(connection, window, deadline);
        if (!received)
            return received;
        text = std::move(*received);
    } else if (reply->type == atoms.utf8_string) {
        text = property_bytes(*reply);
    } else {
        return std::unexpected(unexpected_type(reply->type));
    }
    if (!util::is_valid_utf8(text))
        return std::unexpected(ClipboardError{.kind = ClipboardError::Kind::not_utf8});
    return text;
}

// The targets CLIPBOARD's owner offers. An owner that refuses TARGETS, or answers it with
// anything but a list of atoms, offers none that we know of.
std::expected<std::vector<xcb_atom_t>, ClipboardError> read_targets(const Connection& connection,
                                                                    Clock::time_point deadline) {
    ReadWindow window(connection);
    auto answer = request(connection, window, connection.atoms.targets, deadline);
    if (!answer)
        return std::unexpected(std::move(answer.error()));
    if (!*answer)
        return std::vector<xcb_atom_t>{};
    const auto& reply = **answer;
    if (reply->type != XCB_ATOM_ATOM || reply->format != 32)
        return std::vector<xcb_atom_t>{};
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    return std::vector<xcb_atom_t>(atoms, atoms + xcb_get_property_value_length(reply.get()) /
                                                      sizeof(xcb_atom_t));
}

} // namespace

std::expected<std::string, ClipboardError> read_clipboard(const Connection& connection) {
    drop_queued_events(connection);
    return read_text(connection, Clock::now() + read_timeout);
}

std::expected<Selection, ClipboardError> read_selection(const Connection& connection,
                                                        AtomNames& names, LastRead& last) {
    const auto deadline = Clock::now() + read_timeout;
    // Another client's copy, however large, is read once: a new copy takes CLIPBOARD anew, even
    // where the same window takes it. The owner's reply comes after every event sent before it.
    auto owner = selection_owner(connection);
    if (!owner)
        return std::unexpected(std::move(owner.error()));
    drop_queued_events(connection);
    const bool watched = connection.owner_change_event != 0;
    if (watched && last.outcome && last.owner == *owner &&
        last.owner_changes == connection.owner_changes)
        return *last.outcome;
    last = {};
    const std::uint64_t owner_changes = connection.owner_changes;
    const bool remembered = watched && *owner != XCB_NONE;
    auto failed = [&](ClipboardError error) -> std::expected<Selection, ClipboardError> {
        // Asking again would cost the same bytes, for the same copy. A read that ran out of
        // time is asked again: an owner slow once (a loaded machine) must not keep the user's
        // copy from the others.
        if (remembered && error.kind == ClipboardError::Kind::too_large)
            last = {*owner, owner_changes, std::unexpected(error)};
        return std::unexpected(std::move(error));
    };

    auto targets = read_targets(connection, deadline);
    if (!targets)
        return failed(std::move(targets.error()));
    auto target_names = names.names(connection, *targets);
    if (!target_names)
        return std::unexpected(std::move(target_names.error()));
    auto text = read_text(connection, deadline);
    if (!text)
        return failed(std::move(text.error()));
    Selection selection{std::move(*text), util::offers_more_than_text(*target_names)};
    if (remembered)
        last = {*owner, owner_changes, selection};
    return selection;
}

} // namespace x11clip
