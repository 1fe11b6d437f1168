#include "tests/x11clip/slow_incr_owner.hpp"

#include <poll.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace quillfen::test {

namespace {

struct Free {
    void operator()(void* p) const { std::free(p); }
};

} // namespace

SlowIncrOwner::SlowIncrOwner(const std::string& display, std::vector<std::string> chunks,
                             std::chrono::milliseconds pause, Ending ending)
    : client_(display), chunks_(std::move(chunks)), pause_(pause), ending_(ending),
      incr_(client_.atom("INCR")), utf8_string_(client_.atom("UTF8_STRING")) {
    client_.take_clipboard();
    thread_ = std::jthread([this](std::stop_token stop) { serve(stop); });
}

SlowIncrOwner::~SlowIncrOwner() {
    thread_.request_stop();
    thread_.join();
}

std::string SlowIncrOwner::text() const {
    std::string all;
    for (const auto& chunk : chunks_)
        all += chunk;
    return all;
}

void SlowIncrOwner::serve(const std::stop_token& stop) {
    xcb_connection_t* xcb = client_.connection();
    while (!stop.stop_requested() && xcb_connection_has_error(xcb) == 0) {
        while (std::unique_ptr<xcb_generic_event_t, Free> e{xcb_poll_for_event(xcb)}) {
            const auto type = e->response_type & 0x7f;
            if (type == XCB_SELECTION_REQUEST)
                answer(*reinterpret_cast<xcb_selection_request_event_t*>(e.get()));
            else if (type == XCB_PROPERTY_NOTIFY)
                deleted(*reinterpret_cast<xcb_property_notify_event_t*>(e.get()));
            // SelectionClear is ignored on purpose: transfers under way go on.
        }
        send_due();
        xcb_flush(xcb);
        pollfd p{xcb_get_file_descriptor(xcb), POLLIN, 0};
        ::poll(&p, 1, 10);
    }
}

void SlowIncrOwner::answer(const xcb_selection_request_event_t& request) {
    xcb_connection_t* xcb = client_.connection();
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(xcb, request.requestor, XCB_CW_EVENT_MASK, &mask);
    const auto size = static_cast<std::uint32_t>(text().size());
    xcb_change_property(xcb, XCB_PROP_MODE_REPLACE, request.requestor, request.property, incr_, 32,
                        1, &size);
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request.time;
    notify.requestor = request.requestor;
    notify.selection = request.selection;
    notify.target = request.target;
    notify.property = request.property;
    xcb_send_event(xcb, 0, request.requestor, 0, reinterpret_cast<const char*>(&notify));
    transfers_.push_back(Transfer{request.requestor, request.property, 0, std::nullopt});
    ++requests_;
}

void SlowIncrOwner::deleted(const xcb_property_notify_event_t& notify) {
    if (notify.state != XCB_PROPERTY_DELETE)
        return;
    for (auto& t : transfers_)
        if (t.requestor == notify.window && t.property == notify.atom && !t.due)
            t.due = Clock::now() + pause_;
}

void SlowIncrOwner::send_due() {
    const auto now = Clock::now();
    for (auto it = transfers_.begin(); it != transfers_.end();) {
        if (!it->due || *it->due > now) {
            ++it;
            continue;
        }
        static const std::string none;
        const bool endless = ending_ == Ending::never;
        const std::string& chunk = endless                     ? chunks_[it->next % chunks_.size()]
                                   : it->next < chunks_.size() ? chunks_[it->next]
                                                               : none;
        xcb_change_property(client_.connection(), XCB_PROP_MODE_REPLACE, it->requestor,
                            it->property, utf8_string_, 8, static_cast<std::uint32_t>(chunk.size()),
                            chunk.data());
        sent_ += chunk.size();
        it->due.reset();
        if (++it->next > chunks_.size() && !endless)
            it = transfers_.erase(it); // the empty chunk went
        else
            ++it;
    }
}

} // namespace quillfen::test
