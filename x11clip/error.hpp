// The X11 clipboard layer's one error: what went wrong, as a kind the service sorts failures
// by, and the detail its text names.
#pragma once

#include <cstdint>
#include <string>

namespace x11clip {

// An X error the server sent, as xcb_generic_error_t carries it.
struct XError {
    std::uint8_t error_code = 0;
    std::uint8_t major_code = 0;
    std::uint16_t minor_code = 0;
    std::uint32_t resource_id = 0;
    std::uint32_t sequence = 0;

    bool operator==(const XError&) const = default;
};

struct ClipboardError {
    enum class Kind {
        // No server accepted the connection, or the connection broke: nothing sent on it can
        // succeed any more. `code` is libxcb's connection error (XCB_CONN_ERROR when no
        // server listens).
        connection,
        another_user,    // the display's server runs as another user, who must not get our text
        timed_out,       // the owner did not answer a read in time
        too_large,       // the owner's answer is longer than a read takes
        refused,         // the owner holds something it cannot give as UTF8_STRING
        unexpected_type, // the owner answered in another type; `code` is its atom
        not_utf8,        // the owner's bytes, or the text we serve, are not UTF-8
        reply_error,     // a request that expects a reply got the server's `x_error` instead
        x_error,         // the server reported `x_error` for a request without reply
        not_owner,       // the server does not name our window as CLIPBOARD's owner
        owner_ended,     // the owner thread has ended, so nothing can be served
        system,          // a resource of our own could not be made; `what` says which and why
    };

    Kind kind;
    std::int64_t code = 0;
    XError x_error{};
    std::string what{};
    // With `connection`: our own time limit ended the connection, on a server that did not answer
    // in time (grabbed by another client, say), not one that went away.
    bool busy = false;

    // "X11 clipboard error : " + the cause, or "error interpreting as UTF8".
    std::string message() const;

    bool operator==(const ClipboardError&) const = default;
};

} // namespace x11clip
