#include "x11clip/connection.hpp"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "x11clip/causes.hpp"
#include "x11clip/display_socket.hpp"
#include "x11clip/xauthority.hpp"

namespace x11clip {

namespace {

const xcb_screen_t* find_screen(xcb_connection_t* connection, int number) {
    auto it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (; it.rem > 0 && number > 0; --number)
        xcb_screen_next(&it);
    return it.rem > 0 ? it.data : nullptr;
}

std::expected<Atoms, ClipboardError> intern_atoms(xcb_connection_t* connection) {
    constexpr std::array<std::string_view, 7> names{
        "CLIPBOARD", "THIS_CLIPBOARD_OUT", "TARGETS",  "UTF8_STRING",
        "INCR",      "MULTIPLE",           "TIMESTAMP"};
    std::array<xcb_intern_atom_cookie_t, names.size()> cookies{};
    for (std::size_t i = 0; i < names.size(); ++i)
        cookies[i] = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(names[i].size()),
                                     names[i].data());
    std::array<xcb_atom_t, names.size()> values{};
    std::optional<ClipboardError> failure;
    for (std::size_t i = 0; i < names.size(); ++i) {
        // Every reply is collected, even after a failure, so none is left pending.
        xcb_generic_error_t* raw_error = nullptr;
        XcbPtr<xcb_intern_atom_reply_t> reply{
            xcb_intern_atom_reply(connection, cookies[i], &raw_error)};
        XcbPtr<xcb_generic_error_t> error{raw_error};
        if (reply)
            values[i] = reply->atom;
        else if (!failure)
            failure = reply_error(connection, error.get());
    }
    if (failure)
        return std::unexpected(std::move(*failure));
    return Atoms{values[0], values[1], values[2], values[3], values[4], values[5], values[6]};
}

// libxcb's own connect for what is not a local display, e.g. "host:N" over TCP.
std::expected<std::pair<ConnectionPtr, int>, ClipboardError>
connect_remote(const std::string& display) {
    int screen_number = 0;
    ConnectionPtr xcb{xcb_connect(display.c_str(), &screen_number)};
    if (int code = xcb_connection_has_error(xcb.get()); code != 0)
        return std::unexpected(connection_error(code));
    return std::pair{std::move(xcb), screen_number};
}

// The socket connected by us, then the handshake under a deadline.
std::expected<ConnectionPtr, ClipboardError> connect_local(int number,
                                                           volatile std::sig_atomic_t* fired) {
    auto socket = connect_display_socket(number, wait_limit);
    if (!socket)
        return std::unexpected(std::move(socket.error()));
    auto cookie = local_cookie(number);
    xcb_auth_info_t auth{};
    if (cookie) {
        auth.namelen = static_cast<int>(cookie->name.size());
        auth.name = cookie->name.data();
        auth.datalen = static_cast<int>(cookie->data.size());
        auth.data = cookie->data.data();
    }
    ConnectionPtr xcb;
    {
        // libxcb owns the descriptor from here on and closes it itself when the handshake
        // fails, while the deadline (on a duplicate of its own) is still armed.
        const Deadline bound(socket->get(), wait_limit, fired);
        xcb.reset(xcb_connect_to_fd(socket->release(), cookie ? &auth : nullptr));
    }
    if (int code = xcb_connection_has_error(xcb.get()); code != 0)
        return std::unexpected(connection_error(code));
    return xcb;
}

// The connection, set up under deadlines that note in `*fired` that one of them ended it.
std::expected<Connection, ClipboardError> open_noting(std::string_view display,
                                                      volatile std::sig_atomic_t* fired) {
    const std::string name(display);
    char* host = nullptr;
    int number = 0;
    int screen_number = 0;
    if (xcb_parse_display(name.c_str(), &host, &number, &screen_number) == 0)
        return std::unexpected(connection_error(XCB_CONN_CLOSED_PARSE_ERR));
    const std::string host_part = host;
    std::free(host);

    ConnectionPtr xcb;
    if (host_part.empty() || host_part == "unix") {
        auto local = connect_local(number, fired);
        if (!local)
            return std::unexpected(std::move(local.error()));
        xcb = std::move(*local);
    } else {
        auto remote = connect_remote(name);
        if (!remote)
            return std::unexpected(std::move(remote.error()));
        xcb = std::move(remote->first);
        screen_number = remote->second;
    }

    const xcb_screen_t* screen = find_screen(xcb.get(), screen_number);
    if (screen == nullptr)
        return std::unexpected(connection_error(XCB_CONN_CLOSED_INVALID_SCREEN));

    auto bound =
        std::make_optional<Deadline>(xcb_get_file_descriptor(xcb.get()), wait_limit, fired);
    xcb_window_t window = xcb_generate_id(xcb.get());
    const std::uint32_t event_mask =
        XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    auto cookie = xcb_create_window_checked(xcb.get(), XCB_COPY_FROM_PARENT, window, screen->root,
                                            0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                                            screen->root_visual, XCB_CW_EVENT_MASK, &event_mask);
    if (XcbPtr<xcb_generic_error_t> error{xcb_request_check(xcb.get(), cookie)})
        return std::unexpected(generic_error(*error));
    if (xcb_connection_has_error(xcb.get()) != 0)
        return std::unexpected(connection_error(xcb.get()));

    auto atoms = intern_atoms(xcb.get());
    if (!atoms)
        return std::unexpected(std::move(atoms.error()));
    bound.reset();
    return Connection{std::move(xcb), window, *atoms};
}

} // namespace

std::expected<Connection, ClipboardError> Connection::open(std::string_view display) {
    auto timed_out = std::make_unique<volatile std::sig_atomic_t>(0);
    auto opened = open_noting(display, timed_out.get());
    if (!opened) {
        opened.error().busy = *timed_out != 0;
        return opened;
    }
    opened->timed_out = std::move(timed_out);
    return opened;
}

} // namespace x11clip
