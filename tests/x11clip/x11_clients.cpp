#include "tests/x11clip/x11_clients.hpp"

#include <poll.h>
#include <signal.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <utility>

namespace quillfen::test {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Free {
    void operator()(void* p) const { std::free(p); }
};

// An X server that a test ends under a connection must not end the test process through
// SIGPIPE (the service ignores it the same way).
const bool sigpipe_ignored = [] {
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}();

} // namespace

RawClient::RawClient(const std::string& display) {
    xcb_ = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(xcb_) != 0) {
        xcb_disconnect(xcb_);
        throw std::runtime_error("cannot connect to " + display);
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(xcb_)).data;
    window_ = xcb_generate_id(xcb_);
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(xcb_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(xcb_);
}

RawClient::~RawClient() {
    xcb_disconnect(xcb_);
}

xcb_atom_t RawClient::atom(std::string_view name) const {
    auto cookie = xcb_intern_atom(xcb_, 0, static_cast<std::uint16_t>(name.size()), name.data());
    std::unique_ptr<xcb_intern_atom_reply_t, Free> reply{
        xcb_intern_atom_reply(xcb_, cookie, nullptr)};
    if (!reply)
        throw std::runtime_error("InternAtom failed");
    return reply->atom;
}

std::string RawClient::atom_name(xcb_atom_t atom) const {
    std::unique_ptr<xcb_get_atom_name_reply_t, Free> reply{
        xcb_get_atom_name_reply(xcb_, xcb_get_atom_name(xcb_, atom), nullptr)};
    if (!reply)
        return "?";
    return {xcb_get_atom_name_name(reply.get()),
            static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get()))};
}

xcb_window_t RawClient::clipboard_owner() const {
    return selection_owner("CLIPBOARD");
}

xcb_window_t RawClient::selection_owner(std::string_view name) const {
    std::unique_ptr<xcb_get_selection_owner_reply_t, Free> reply{
        xcb_get_selection_owner_reply(xcb_, xcb_get_selection_owner(xcb_, atom(name)), nullptr)};
    return reply ? reply->owner : XCB_NONE;
}

void RawClient::take_clipboard(xcb_timestamp_t time) const {
    xcb_set_selection_owner(xcb_, window_, atom("CLIPBOARD"), time);
    if (clipboard_owner() != window_)
        throw std::runtime_error("could not take CLIPBOARD");
}

std::size_t RawClient::max_request_bytes() const {
    return std::size_t{xcb_get_maximum_request_length(xcb_)} * 4;
}

xcb_timestamp_t RawClient::server_time() {
    const xcb_atom_t property = atom("RAW_CLIENT_TIME");
    xcb_change_property(xcb_, XCB_PROP_MODE_APPEND, window_, property, XCB_ATOM_INTEGER, 32, 0,
                        nullptr);
    xcb_flush(xcb_);
    for (;;) {
        std::unique_ptr<xcb_generic_event_t, Free> e{wait_event(XCB_PROPERTY_NOTIFY, 10s)};
        auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(e.get());
        if (notify->window == window_ && notify->atom == property)
            return notify->time;
    }
}

xcb_generic_event_t* RawClient::wait_event(std::uint8_t type, std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        while (xcb_generic_event_t* e = xcb_poll_for_event(xcb_)) {
            if ((e->response_type & 0x7f) == type)
                return e;
            std::free(e);
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms || xcb_connection_has_error(xcb_) != 0)
            throw std::runtime_error("no event of type " + std::to_string(type));
        pollfd p{xcb_get_file_descriptor(xcb_), POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left.count()));
    }
}

std::string RawClient::take_property(xcb_atom_t property, xcb_atom_t* type, std::uint8_t* format) {
    std::unique_ptr<xcb_get_property_reply_t, Free> reply{xcb_get_property_reply(
        xcb_,
        xcb_get_property(xcb_, 1, window_, property, XCB_GET_PROPERTY_TYPE_ANY, 0, UINT32_MAX / 4),
        nullptr)};
    if (!reply)
        throw std::runtime_error("GetProperty failed");
    *type = reply->type;
    *format = reply->format;
    return {static_cast<const char*>(xcb_get_property_value(reply.get())),
            static_cast<std::size_t>(xcb_get_property_value_length(reply.get()))};
}

void RawClient::request(std::string_view target, xcb_atom_t property) {
    xcb_convert_selection(xcb_, window_, atom("CLIPBOARD"), atom(target), property,
                          XCB_CURRENT_TIME);
    xcb_flush(xcb_);
}

RawClient::Answer RawClient::convert(std::string_view target,
                                     const std::function<void(std::size_t)>& after_chunk) {
    const xcb_atom_t property = atom("RAW_CLIENT_OUT");
    request(target, property);
    Answer answer;
    std::unique_ptr<xcb_generic_event_t, Free> event{wait_event(XCB_SELECTION_NOTIFY, 10s)};
    if (reinterpret_cast<xcb_selection_notify_event_t*>(event.get())->property == XCB_NONE) {
        answer.refused = true;
        return answer;
    }
    answer.bytes = take_property(property, &answer.type, &answer.format);
    if (answer.type != atom("INCR"))
        return answer;
    answer.bytes.clear();
    for (;;) {
        std::unique_ptr<xcb_generic_event_t, Free> e{wait_event(XCB_PROPERTY_NOTIFY, 10s)};
        auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(e.get());
        if (notify->atom != property || notify->state != XCB_PROPERTY_NEW_VALUE)
            continue;
        xcb_atom_t type;
        std::uint8_t format;
        std::string chunk = take_property(property, &type, &format);
        answer.chunks.push_back(chunk.size());
        answer.bytes += chunk;
        if (chunk.empty())
            return answer;
        if (after_chunk)
            after_chunk(answer.chunks.size());
    }
}

void RawClient::stall_incremental(std::string_view target, int chunks) {
    const xcb_atom_t property = atom("RAW_CLIENT_OUT");
    request(target, property);
    std::unique_ptr<xcb_generic_event_t, Free> event{wait_event(XCB_SELECTION_NOTIFY, 10s)};
    xcb_atom_t type;
    std::uint8_t format;
    take_property(property, &type, &format);
    if (type != atom("INCR"))
        throw std::runtime_error("not an incremental transfer");
    for (int taken = 0; taken < chunks;) {
        std::unique_ptr<xcb_generic_event_t, Free> e{wait_event(XCB_PROPERTY_NOTIFY, 10s)};
        auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(e.get());
        if (notify->atom != property || notify->state != XCB_PROPERTY_NEW_VALUE)
            continue;
        take_property(property, &type, &format);
        ++taken;
    }
}

ScriptedOwner::ScriptedOwner(const std::string& display, Script script)
    : client_(display), script_(std::move(script)) {
    take_and_serve();
}

void ScriptedOwner::copy_again(std::vector<Offer> offers) {
    thread_ = {}; // stopped and joined: the events are this thread's until it serves again
    script_.offers = std::move(offers);
    take_and_serve();
}

void ScriptedOwner::take_and_serve() {
    const xcb_timestamp_t before = taken_at_;
    do
        taken_at_ = client_.server_time();
    while (taken_at_ == before);
    client_.take_clipboard(taken_at_);
    thread_ = std::jthread([this](std::stop_token stop) { serve(stop); });
}

ScriptedOwner::~ScriptedOwner() {
    thread_.request_stop();
    thread_.join();
}

void ScriptedOwner::serve(const std::stop_token& stop) {
    xcb_connection_t* xcb = client_.connection();
    const xcb_atom_t type = client_.atom(script_.type);
    while (!stop.stop_requested()) {
        std::unique_ptr<xcb_generic_event_t, Free> e{xcb_poll_for_event(xcb)};
        if (!e) {
            pollfd p{xcb_get_file_descriptor(xcb), POLLIN, 0};
            ::poll(&p, 1, 20);
            continue;
        }
        if ((e->response_type & 0x7f) != XCB_SELECTION_REQUEST)
            continue;
        ++requests_;
        if (script_.reply == Script::Reply::none)
            continue;
        auto* request = reinterpret_cast<xcb_selection_request_event_t*>(e.get());
        bool refused = script_.reply == Script::Reply::refusal;
        if (!script_.offers.empty())
            refused = !answer_offer(*request);
        else if (!refused)
            xcb_change_property(xcb, XCB_PROP_MODE_REPLACE, request->requestor, request->property,
                                type, 8, static_cast<std::uint32_t>(script_.bytes.size()),
                                script_.bytes.data());
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.requestor = request->requestor;
        notify.selection = request->selection;
        notify.target = request->target;
        notify.property = refused ? XCB_NONE : request->property;
        notify.time = request->time;
        xcb_send_event(xcb, 0, request->requestor, 0, reinterpret_cast<const char*>(&notify));
        xcb_flush(xcb);
        ++answers_;
    }
}

bool ScriptedOwner::answer_offer(const xcb_selection_request_event_t& request) {
    xcb_connection_t* xcb = client_.connection();
    if (request.target == client_.atom("TIMESTAMP")) {
        xcb_change_property(xcb, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                            XCB_ATOM_INTEGER, 32, 1, &taken_at_);
        return true;
    }
    if (request.target == client_.atom("TARGETS")) {
        std::vector<xcb_atom_t> targets{request.target, client_.atom("TIMESTAMP")};
        for (const Offer& offer : script_.offers)
            targets.push_back(client_.atom(offer.target));
        xcb_change_property(xcb, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                            XCB_ATOM_ATOM, 32, static_cast<std::uint32_t>(targets.size()),
                            targets.data());
        return true;
    }
    for (const Offer& offer : script_.offers)
        if (request.target == client_.atom(offer.target)) {
            xcb_change_property(xcb, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                                request.target, 8, static_cast<std::uint32_t>(offer.bytes.size()),
                                offer.bytes.data());
            return true;
        }
    return false;
}

OwnerWatch::OwnerWatch(const std::string& display) : client_(display) {
    xcb_connection_t* xcb = client_.connection();
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(xcb, &xcb_xfixes_id);
    if (extension == nullptr || extension->present == 0)
        throw std::runtime_error("no XFIXES on " + display);
    // The version must be asked before any other request of the extension.
    std::free(xcb_xfixes_query_version_reply(
        xcb, xcb_xfixes_query_version(xcb, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
        nullptr));
    const auto cookie = xcb_xfixes_select_selection_input_checked(
        xcb, client_.window(), client_.atom("CLIPBOARD"),
        XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
    if (std::unique_ptr<xcb_generic_error_t, Free> error{xcb_request_check(xcb, cookie)})
        throw std::runtime_error("XFixesSelectSelectionInput refused on " + display);
    notify_type_ = static_cast<std::uint8_t>(extension->first_event + XCB_XFIXES_SELECTION_NOTIFY);
}

OwnerWatch::Taken OwnerWatch::next(std::chrono::seconds limit) {
    std::unique_ptr<xcb_generic_event_t, Free> e{client_.wait_event(notify_type_, limit)};
    const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(e.get());
    return {notify->owner, notify->selection_timestamp};
}

ServerGrab::ServerGrab(const std::string& display) : client_(display) {
    xcb_grab_server(client_.connection());
    // Held once the server has answered a request made after it.
    std::free(xcb_get_input_focus_reply(client_.connection(),
                                        xcb_get_input_focus(client_.connection()), nullptr));
}

ServerGrab::~ServerGrab() {
    release();
}

void ServerGrab::release() {
    if (!std::exchange(held_, false))
        return;
    xcb_ungrab_server(client_.connection());
    std::free(xcb_get_input_focus_reply(client_.connection(),
                                        xcb_get_input_focus(client_.connection()), nullptr));
}

MappedWindow::MappedWindow(const std::string& display) : client_(display) {
    xcb_connection_t* xcb = client_.connection();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(xcb)).data;
    const xcb_window_t window = xcb_generate_id(xcb);
    // With a background the window has content: Xwayland shows it on a surface, and only then
    // does the compositor map it and give it the focus.
    const std::uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_FOCUS_CHANGE};
    xcb_create_window(xcb, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 200, 200, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    xcb_map_window(xcb, window);
    xcb_flush(xcb);
    const auto deadline = Clock::now() + 20s;
    for (;;) {
        std::unique_ptr<xcb_generic_event_t, Free> e{xcb_poll_for_event(xcb)};
        if (e && (e->response_type & 0x7f) == XCB_FOCUS_IN)
            break;
        if (e)
            continue;
        if (xcb_connection_has_error(xcb) != 0 || Clock::now() >= deadline)
            throw std::runtime_error("the window on " + display + " got no focus");
        pollfd p{xcb_get_file_descriptor(xcb), POLLIN, 0};
        ::poll(&p, 1, 20);
    }
    drain_ = std::jthread([xcb](std::stop_token stop) {
        while (!stop.stop_requested()) {
            if (std::unique_ptr<xcb_generic_event_t, Free> e{xcb_poll_for_event(xcb)})
                continue;
            pollfd p{xcb_get_file_descriptor(xcb), POLLIN, 0};
            ::poll(&p, 1, 20);
        }
    });
}

MappedWindow::~MappedWindow() {
    drain_.request_stop();
    drain_.join();
}

void admit_local_user(const std::string& display, const std::string& user) {
    const RawClient client(display);
    const std::string address = "localuser" + std::string(1, '\0') + user;
    const xcb_void_cookie_t cookie = xcb_change_hosts_checked(
        client.connection(), XCB_HOST_MODE_INSERT, XCB_FAMILY_SERVER_INTERPRETED,
        static_cast<std::uint16_t>(address.size()),
        reinterpret_cast<const std::uint8_t*>(address.data()));
    if (std::unique_ptr<xcb_generic_error_t, Free> error{
            xcb_request_check(client.connection(), cookie)})
        throw std::runtime_error("ChangeHosts refused on " + display);
}

XclipOwner::XclipOwner(const std::string& display, std::string_view text)
    : before_(RawClient(display).clipboard_owner()),
      xclip_({"xclip", "-display", display, "-selection", "clipboard", "-i", "-quiet"},
             {.stdout_mode = WatchOptions::Stdout::discarded,
              .input = std::string(text),
              .discard_stderr = true}) {
    RawClient observer(display);
    // Waiting also feeds xclip its text.
    const bool owns = xclip_.wait_until(
        [&] {
            const xcb_window_t owner = observer.clipboard_owner();
            return owner != XCB_NONE && owner != before_;
        },
        20s);
    if (!owns)
        throw std::runtime_error("xclip did not take CLIPBOARD");
}

XclipOwner::~XclipOwner() = default;

} // namespace quillfen::test
