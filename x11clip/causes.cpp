#include "x11clip/causes.hpp"

#include <array>

namespace x11clip {

namespace {

// libxcb's connection error codes 1 to 7, in order.
constexpr std::array<std::string_view, 7> connection_kinds{
    "Connection",     "ClosedExtNotSupported", "ClosedMemInsufficient", "ClosedReqLenExceed",
    "ClosedParseErr", "ClosedInvalidScreen",   "ClosedFdPassingFailed",
};

constexpr std::string_view prefix = "X11 clipboard error : ";
constexpr std::string_view connection_cause = "XCB connection error: ";

} // namespace

ClipboardError clipboard_error(std::string_view cause) {
    return ClipboardError{std::string(prefix).append(cause)};
}

bool is_connection_error(const ClipboardError& error) {
    std::string_view message = error.message;
    return message.starts_with(prefix) &&
           message.substr(prefix.size()).starts_with(connection_cause);
}

ClipboardError connection_error(int code) {
    std::string cause(connection_cause);
    if (code >= 1 && code <= static_cast<int>(connection_kinds.size()))
        cause += connection_kinds[static_cast<std::size_t>(code - 1)];
    else
        cause += "Unknown(" + std::to_string(code) + ")";
    return clipboard_error(cause);
}

ClipboardError connection_error(xcb_connection_t* connection) {
    int code = xcb_connection_has_error(connection);
    // A call that failed without a server error on a healthy connection still means
    // the conversation broke; report it as the generic connection kind.
    return connection_error(code == 0 ? XCB_CONN_ERROR : code);
}

ClipboardError served_by_another_user() {
    return clipboard_error("display served by another user");
}

std::string describe(const xcb_generic_error_t& error) {
    return "error code " + std::to_string(error.error_code) + ", major opcode " +
           std::to_string(error.major_code) + ", minor opcode " + std::to_string(error.minor_code) +
           ", resource " + std::to_string(error.resource_id) + ", sequence " +
           std::to_string(error.full_sequence);
}

ClipboardError reply_error(xcb_connection_t* connection, const xcb_generic_error_t* error) {
    if (error == nullptr)
        return connection_error(connection);
    return clipboard_error("XCB reply error: " + describe(*error));
}

ClipboardError generic_error(const xcb_generic_error_t& error) {
    return clipboard_error("XCB generic error: " + describe(error));
}

} // namespace x11clip
