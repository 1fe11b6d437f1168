#include "x11clip/owner.hpp"

#include <poll.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#include "util/errno_text.hpp"
#include "util/poll_timeout.hpp"
#include "util/utf8.hpp"
#include "x11clip/causes.hpp"
#include "x11clip/reader.hpp"
#include "x11clip/server_time.hpp"

namespace x11clip {

namespace {

using Clock = std::chrono::steady_clock;

// One incremental transfer to one requestor's property.
struct Transfer {
    xcb_window_t requestor;
    xcb_atom_t property;
    std::shared_ptr<const std::string> text;
    std::size_t offset = 0;
    Clock::time_point progressed{}; // when a chunk last went
};

} // namespace

// The owner thread's loop and the state only it touches.
class Owner::Thread {
  public:
    explicit Thread(Owner& owner) : owner_(owner), xcb_(owner.serving_.get()) {}

    void run(const std::stop_token& stop) {
        pollfd descriptors[2] = {{xcb_get_file_descriptor(xcb_), POLLIN, 0},
                                 {owner_.wake_.get(), POLLIN, 0}};
        while (!stop.stop_requested()) {
            // Writes block while the server reads nothing; bounded, they hold neither this
            // thread nor the Owner's destruction that joins it.
            while (EventPtr event{xcb_poll_for_event(xcb_)}) {
                const auto bound = owner_.serving_.bounded();
                handle(*event);
                if (stop.stop_requested())
                    break;
            }
            if (stop.stop_requested() || xcb_connection_has_error(xcb_) != 0)
                break;
            {
                const auto bound = owner_.serving_.bounded();
                xcb_flush(xcb_);
            }
            // Flushing reads whatever the server sent meanwhile into libxcb's queue, where
            // poll() cannot see it: a request read that way would wait for other traffic.
            if (EventPtr event{xcb_poll_for_queued_event(xcb_)}) {
                const auto bound = owner_.serving_.bounded();
                handle(*event);
                continue;
            }
            if (finished())
                break;
            if (::poll(descriptors, 2, poll_timeout()) < 0 && errno != EINTR)
                break;
            if ((descriptors[1].revents & POLLIN) != 0) {
                std::uint64_t count = 0;
                [[maybe_unused]] auto n = ::read(owner_.wake_.get(), &count, sizeof count);
            }
        }
        // Transfers still under way are dropped: their requestors see the owner go away
        // when the serving connection closes.
        {
            std::lock_guard lock(owner_.mutex_);
            owner_.ended_ = true;
        }
        owner_.ended_changed_.notify_all();
    }

  private:
    // Once the owner was asked to finish: gives up the transfers that stall or outlast the
    // time given, and tells whether none is left.
    bool finished() {
        if (!finish_by_) {
            std::lock_guard lock(owner_.mutex_);
            finish_by_ = owner_.finish_by_;
            if (!finish_by_)
                return false;
            // The limit counts from now: a requestor that paused while it could has not been
            // told that its transfer must move.
            for (Transfer& t : transfers_)
                t.progressed = Clock::now();
        }
        const auto now = Clock::now();
        std::erase_if(transfers_, [&](const Transfer& t) {
            return now >= *finish_by_ || now - t.progressed >= incr_idle_limit;
        });
        if (!transfers_.empty())
            return false;
        // The last chunks are processed before the serving connection can go with the process.
        const Deadline bound(xcb_get_file_descriptor(xcb_), last_sync_limit);
        XcbPtr<xcb_get_input_focus_reply_t> synced{
            xcb_get_input_focus_reply(xcb_, xcb_get_input_focus(xcb_), nullptr)};
        return true;
    }

    // For ever, unless the owner is finishing: then until the next transfer may be given up.
    int poll_timeout() const {
        if (!finish_by_)
            return -1;
        auto next = *finish_by_;
        for (const Transfer& t : transfers_)
            next = std::min(next, t.progressed + incr_idle_limit);
        return util::poll_timeout(next);
    }

    void handle(const xcb_generic_event_t& event) {
        switch (event_type(event)) {
        case XCB_SELECTION_REQUEST:
            answer(reinterpret_cast<const xcb_selection_request_event_t&>(event));
            break;
        case XCB_SELECTION_CLEAR:
            cleared(reinterpret_cast<const xcb_selection_clear_event_t&>(event),
                    event.full_sequence);
            break;
        case XCB_PROPERTY_NOTIFY:
            property_changed(reinterpret_cast<const xcb_property_notify_event_t&>(event));
            break;
        case XCB_DESTROY_NOTIFY:
            forget(reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window);
            break;
        case 0: // an X error, most likely about a requestor window that has gone
            forget(reinterpret_cast<const xcb_generic_error_t&>(event).resource_id);
            break;
        default:
            break;
        }
    }

    Served current() {
        std::lock_guard lock(owner_.mutex_);
        return owner_.served_;
    }

    void answer(const xcb_selection_request_event_t& request) {
        const Atoms& atoms = owner_.serving_.atoms;
        // Clients of the oldest conventions name no property: the target is used instead.
        xcb_atom_t property = request.property == XCB_NONE ? request.target : request.property;
        const Served served = request.selection == atoms.clipboard ? current() : Served{};
        auto text = served.text;
        // MULTIPLE names further conversions in the requestor's property; answering it with
        // the text would overwrite them, so it is refused and they stay as they are.
        if (!text || request.target == atoms.multiple) {
            property = XCB_NONE; // refused
        } else if (request.target == atoms.targets) {
            const xcb_atom_t offered[] = {atoms.targets, atoms.utf8_string};
            xcb_change_property(xcb_, XCB_PROP_MODE_REPLACE, request.requestor, property,
                                XCB_ATOM_ATOM, 32, 2, offered);
        } else if (request.target == atoms.timestamp) {
            xcb_change_property(xcb_, XCB_PROP_MODE_REPLACE, request.requestor, property,
                                XCB_ATOM_INTEGER, 32, 1, &served.ownership_time);
        } else if (text->size() >= owner_.incr_threshold_) {
            begin_transfer(request.requestor, property, std::move(text));
        } else {
            xcb_change_property(xcb_, XCB_PROP_MODE_REPLACE, request.requestor, property,
                                atoms.utf8_string, 8, static_cast<std::uint32_t>(text->size()),
                                text->data());
        }
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = property;
        xcb_send_event(xcb_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&notify));
    }

    void begin_transfer(xcb_window_t requestor, xcb_atom_t property,
                        std::shared_ptr<const std::string> text) {
        std::erase_if(transfers_, [&](const Transfer& t) {
            return t.requestor == requestor && t.property == property;
        });
        // The requestor's deletions of the property pace the chunks; its destruction
        // ends the transfer.
        watch(requestor, XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY);
        const auto size = static_cast<std::uint32_t>(text->size());
        xcb_change_property(xcb_, XCB_PROP_MODE_REPLACE, requestor, property,
                            owner_.serving_.atoms.incr, 32, 1, &size);
        transfers_.push_back(Transfer{requestor, property, std::move(text)});
    }

    void property_changed(const xcb_property_notify_event_t& notify) {
        if (notify.state != XCB_PROPERTY_DELETE)
            return;
        auto it = std::find_if(transfers_.begin(), transfers_.end(), [&](const Transfer& t) {
            return t.requestor == notify.window && t.property == notify.atom;
        });
        if (it == transfers_.end())
            return;
        const std::size_t length = std::min(incr_chunk_size, it->text->size() - it->offset);
        xcb_change_property(xcb_, XCB_PROP_MODE_REPLACE, it->requestor, it->property,
                            owner_.serving_.atoms.utf8_string, 8,
                            static_cast<std::uint32_t>(length), it->text->data() + it->offset);
        it->offset += length;
        it->progressed = Clock::now();
        if (length == 0) { // the empty chunk ends the transfer
            xcb_window_t requestor = it->requestor;
            transfers_.erase(it);
            if (!transferring_to(requestor))
                watch(requestor, XCB_EVENT_MASK_NO_EVENT);
        }
    }

    void cleared(const xcb_selection_clear_event_t& clear, std::uint32_t sequence) {
        if (clear.selection != owner_.serving_.atoms.clipboard)
            return;
        std::lock_guard lock(owner_.mutex_);
        if (static_cast<std::int32_t>(sequence - owner_.served_.ownership_sequence) >= 0)
            owner_.served_.text.reset();
    }

    void forget(xcb_window_t window) {
        std::erase_if(
            transfers_, [&](const Transfer& t) { return t.requestor == window; });
    }

    bool transferring_to(xcb_window_t window) const {
        return std::any_of(
            transfers_.begin(), transfers_.end(),
            [&](const Transfer& t) { return t.requestor == window; });
    }

    void watch(xcb_window_t window, std::uint32_t event_mask) {
        xcb_change_window_attributes(xcb_, window, XCB_CW_EVENT_MASK, &event_mask);
    }

    // Time enough for a round trip to a server that answers, at the end of a finishing.
    static constexpr std::chrono::milliseconds last_sync_limit{250};

    Owner& owner_;
    xcb_connection_t* xcb_;
    std::vector<Transfer> transfers_;
    std::optional<Clock::time_point> finish_by_; // a copy of the owner's, once asked
};

namespace {

// A ChangeProperty request carries 24 bytes besides the data, and 4 more when it is long
// enough to need the big-requests length field. A text that does not fit must go
// incrementally: sending it would make libxcb shut the connection down.
std::size_t incremental_threshold(const Connection& connection) {
    xcb_connection_t* xcb = connection.get();
    std::size_t limit = 0;
    {
        // Asking enables big requests, a round trip; libxcb keeps the answer.
        const auto bound = connection.bounded();
        limit = std::size_t{xcb_get_maximum_request_length(xcb)} * 4;
    }
    const std::size_t core_limit = std::size_t{xcb_get_setup(xcb)->maximum_request_length} * 4;
    return limit - 24 - (limit > core_limit ? 4 : 0);
}

ClipboardError not_owner() {
    return ClipboardError{.kind = ClipboardError::Kind::not_owner};
}

ClipboardError system_error(std::string what) {
    return ClipboardError{.kind = ClipboardError::Kind::system, .what = std::move(what)};
}

} // namespace

Owner::Owner(Connection serving, util::UniqueFd wake)
    : serving_(std::move(serving)), wake_(std::move(wake)),
      incr_threshold_(incremental_threshold(serving_)) {}

std::expected<std::unique_ptr<Owner>, ClipboardError> Owner::start(Connection serving) {
    util::UniqueFd wake{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    if (!wake)
        return std::unexpected(system_error("eventfd: " + util::errno_description(errno)));
    std::unique_ptr<Owner> owner{new Owner(std::move(serving), std::move(wake))};
    if (xcb_connection_has_error(owner->serving_.get()) != 0)
        return std::unexpected(connection_error(owner->serving_.get()));
    try {
        owner->thread_ =
            std::jthread([self = owner.get()](std::stop_token stop) { Thread(*self).run(stop); });
    } catch (const std::system_error& e) {
        return std::unexpected(system_error(std::string("owner thread: ") + e.what()));
    }
    return owner;
}

Owner::~Owner() {
    if (thread_.joinable()) {
        thread_.request_stop();
        wake();
        thread_.join();
    }
}

void Owner::wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wake_.get(), &one, sizeof one);
}

void Owner::finish(std::chrono::steady_clock::time_point by) {
    {
        std::lock_guard lock(mutex_);
        // Without a text every request is refused.
        served_.text.reset();
        finish_by_ = std::min(by, finish_by_.value_or(by));
    }
    wake();
}

void Owner::wait_ended(std::chrono::steady_clock::time_point until) {
    std::unique_lock lock(mutex_);
    ended_changed_.wait_until(lock, until, [&] { return ended_.load(); });
}

std::optional<Owner::Held> Owner::held() {
    if (ended_)
        return std::nullopt;
    std::lock_guard lock(mutex_);
    if (!served_.text)
        return std::nullopt;
    return Held{served_.text, served_.utf8};
}

std::expected<void, ClipboardError> Owner::serve(std::string_view text, const Connection& clock) {
    if (ended_)
        return std::unexpected(ClipboardError{.kind = ClipboardError::Kind::owner_ended});
    xcb_connection_t* xcb = serving_.get();
    auto served = std::make_shared<const std::string>(text);
    // Checked once here rather than on every read of our own text.
    const bool utf8 = util::is_valid_utf8(*served);
    // Asked after the text is copied, so the time is as close to taking CLIPBOARD as it can be,
    // and outside the serving connection's deadline: a thread has one deadline at a time.
    const auto time = server_time(clock);
    if (!time)
        return std::unexpected(not_owner());
    // Armed after the copy and the check: those are our own work, not a wait on the server, and
    // must not count against the server's time.
    const auto bound = serving_.bounded();
    {
        std::lock_guard lock(mutex_);
        served_.text = std::move(served);
        served_.utf8 = utf8;
        served_.ownership_time = *time;
        served_.ownership_sequence =
            xcb_set_selection_owner(xcb, serving_.window, serving_.atoms.clipboard, *time).sequence;
    }
    xcb_flush(xcb);
    const auto owner = selection_owner(serving_);
    // Waiting for the reply may have queued events that the owner thread has not seen.
    wake();
    if (!owner || *owner != serving_.window)
        return std::unexpected(not_owner());
    return {};
}

} // namespace x11clip
