// The X server's time now, which an owner takes a selection at.
#pragma once

#include <expected>

#include "x11clip/connection.hpp"

namespace x11clip {

// The time of the PropertyNotify that an empty append to a property of the connection's
// window causes. Waits for the server at most wait_limit; drops the events queued before.
// Only the thread that reads the connection's events may call it.
std::expected<xcb_timestamp_t, ClipboardError> server_time(const Connection& connection);

} // namespace x11clip
