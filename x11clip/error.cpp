#include "x11clip/error.hpp"

#include <array>
#include <string_view>

namespace x11clip {

namespace {

// libxcb's connection error codes 1 to 7, in order.
constexpr std::array<std::string_view, 7> connection_kinds{
    "Connection",     "ClosedExtNotSupported", "ClosedMemInsufficient", "ClosedReqLenExceed",
    "ClosedParseErr", "ClosedInvalidScreen",   "ClosedFdPassingFailed",
};

std::string connection_kind(std::int64_t code) {
    if (code >= 1 && code <= static_cast<std::int64_t>(connection_kinds.size()))
        return std::string(connection_kinds[static_cast<std::size_t>(code - 1)]);
    return "Unknown(" + std::to_string(code) + ")";
}

std::string describe(const XError& error) {
    return "error code " + std::to_string(error.error_code) + ", major opcode " +
           std::to_string(error.major_code) + ", minor opcode " + std::to_string(error.minor_code) +
           ", resource " + std::to_string(error.resource_id) + ", sequence " +
           std::to_string(error.sequence);
}

std::string cause(const ClipboardError& error) {
    using Kind = ClipboardError::Kind;
    switch (error.kind) {
    case Kind::connection:
        return "XCB connection error: " + connection_kind(error.code);
    case Kind::another_user:
        return "display served by another user";
    case Kind::timed_out:
        return "Selection timed out";
    case Kind::too_large:
        return "Selection too large";
    case Kind::refused:
        return "Selection refused";
    case Kind::unexpected_type:
        return "Unexpected Reply type: " + std::to_string(error.code);
    case Kind::not_utf8:
        break;
    case Kind::reply_error:
        return "XCB reply error: " + describe(error.x_error);
    case Kind::x_error:
        return "XCB generic error: " + describe(error.x_error);
    case Kind::not_owner:
        return "Failed to set new owner of XCB selection";
    case Kind::owner_ended:
        return "XCB - couldn't set atom: the owner thread has ended";
    case Kind::system:
        return "XCB generic error: " + error.what;
    }
    return {};
}

} // namespace

std::string ClipboardError::message() const {
    if (kind == Kind::not_utf8)
        return "error interpreting as UTF8";
    return "X11 clipboard error : " + cause(*this);
}

} // namespace x11clip
