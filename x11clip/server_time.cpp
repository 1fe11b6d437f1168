#include "x11clip/server_time.hpp"

#include "x11clip/causes.hpp"

namespace x11clip {

std::expected<xcb_timestamp_t, ClipboardError> server_time(const Connection& connection) {
    xcb_connection_t* xcb = connection.get();
    // The window's own property, never that of a read's window; an empty append leaves it as
    // it is and still makes the server report the change with its time.
    const xcb_atom_t property = connection.atoms.this_clipboard_out;
    const auto bound = connection.bounded();
    const auto cookie = xcb_change_property(xcb, XCB_PROP_MODE_APPEND, connection.window, property,
                                            XCB_ATOM_INTEGER, 32, 0, nullptr);
    if (xcb_flush(xcb) <= 0)
        return std::unexpected(connection_error(xcb));
    for (;;) {
        // What came before concerns earlier reads, whose windows are gone; a read drops it too.
        EventPtr event{xcb_wait_for_event(xcb)};
        if (!event)
            return std::unexpected(connection_error(xcb));
        connection.notice(*event);
        const std::uint8_t type = event_type(*event);
        if (type == 0) {
            const auto& error = reinterpret_cast<const xcb_generic_error_t&>(*event);
            if (error.sequence == static_cast<std::uint16_t>(cookie.sequence))
                return std::unexpected(generic_error(error));
        } else if (type == XCB_PROPERTY_NOTIFY) {
            const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(*event);
            if (notify.window == connection.window && notify.atom == property)
                return notify.time;
        }
    }
}

} // namespace x11clip
