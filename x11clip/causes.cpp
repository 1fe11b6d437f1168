#include "x11clip/causes.hpp"

namespace x11clip {

namespace {

XError x_error_of(const xcb_generic_error_t& error) {
    return XError{error.error_code, error.major_code, error.minor_code, error.resource_id,
                  error.full_sequence};
}

} // namespace

ClipboardError connection_error(int code) {
    return ClipboardError{.kind = ClipboardError::Kind::connection, .code = code};
}

ClipboardError connection_error(xcb_connection_t* connection) {
    int code = xcb_connection_has_error(connection);
    // A call that failed without a server error on a healthy connection still means
    // the conversation broke; report it as the generic connection kind.
    return connection_error(code == 0 ? XCB_CONN_ERROR : code);
}

ClipboardError reply_error(xcb_connection_t* connection, const xcb_generic_error_t* error) {
    if (error == nullptr)
        return connection_error(connection);
    return ClipboardError{.kind = ClipboardError::Kind::reply_error, .x_error = x_error_of(*error)};
}

ClipboardError generic_error(const xcb_generic_error_t& error) {
    return ClipboardError{.kind = ClipboardError::Kind::x_error, .x_error = x_error_of(error)};
}

} // namespace x11clip
