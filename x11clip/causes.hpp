// The error texts of the layer: every failure becomes "X11 clipboard error : " + cause.
#pragma once

#include <xcb/xcb.h>

#include <string>
#include <string_view>

#include "x11clip/error.hpp"

namespace x11clip {

ClipboardError clipboard_error(std::string_view cause);

// "XCB connection error: " + libxcb's kind, read from a connection that has failed.
ClipboardError connection_error(xcb_connection_t* connection);
ClipboardError connection_error(int code);

// A request that expects a reply got none: the server's error when there is one,
// otherwise the connection broke.
ClipboardError reply_error(xcb_connection_t* connection, const xcb_generic_error_t* error);

// The display's socket belongs to a server of another user, which must not get our text.
ClipboardError served_by_another_user();

// The server reported an X error for a request without reply.
ClipboardError generic_error(const xcb_generic_error_t& error);

std::string describe(const xcb_generic_error_t& error);

} // namespace x11clip
