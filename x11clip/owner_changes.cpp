#include "x11clip/owner_changes.hpp"

#include <xcb/xfixes.h>

namespace x11clip {

bool watch_owner_changes(Connection& connection) {
    xcb_connection_t* xcb = connection.get();
    const auto bound = connection.bounded();
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(xcb, &xcb_xfixes_id);
    if (extension == nullptr || extension->present == 0)
        return false;
    // The version must be asked before any other request of the extension.
    XcbPtr<xcb_xfixes_query_version_reply_t> version{xcb_xfixes_query_version_reply(
        xcb, xcb_xfixes_query_version(xcb, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
        nullptr)};
    if (!version || version->major_version < 1)
        return false;
    const auto cookie = xcb_xfixes_select_selection_input_checked(
        xcb, connection.window, connection.atoms.clipboard,
        XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
            XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
            XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    if (XcbPtr<xcb_generic_error_t> error{xcb_request_check(xcb, cookie)})
        return false;
    connection.owner_change_event =
        static_cast<std::uint8_t>(extension->first_event + XCB_XFIXES_SELECTION_NOTIFY);
    return true;
}

} // namespace x11clip
