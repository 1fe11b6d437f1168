// The layer's errors made from what libxcb reports.
#pragma once

#include <xcb/xcb.h>

#include "x11clip/error.hpp"

namespace x11clip {

// libxcb's kind of failure, read from a connection that has failed.
ClipboardError connection_error(xcb_connection_t* connection);
ClipboardError connection_error(int code);

// A request that expects a reply got none: the server's error when there is one,
// otherwise the connection broke.
ClipboardError reply_error(xcb_connection_t* connection, const xcb_generic_error_t* error);

// The server reported an X error for a request without reply.
ClipboardError generic_error(const xcb_generic_error_t& error);

} // namespace x11clip
