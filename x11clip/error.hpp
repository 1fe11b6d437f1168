// The X11 clipboard layer's one error: a message whose text the service logs
// and, for a failed connection, compares byte for byte.
#pragma once

#include <string>

namespace x11clip {

struct ClipboardError {
    // "X11 clipboard error : " + cause, or "error interpreting as UTF8".
    std::string message;
};

// The connection to the display broke ("XCB connection error: " + kind): nothing sent on
// it can succeed any more.
bool is_connection_error(const ClipboardError& error);

} // namespace x11clip
