// One connection to the X display with the hidden window and the atoms the clipboard uses.
#pragma once

#include <xcb/xcb.h>

#include <csignal>
#include <cstdint>
#include <expected>
#include <memory>
#include <string_view>

#include "x11clip/deadline.hpp"
#include "x11clip/error.hpp"
#include "x11clip/event.hpp"

namespace x11clip {

struct ConnectionDeleter {
    void operator()(xcb_connection_t* connection) const {
        if (connection != nullptr)
            xcb_disconnect(connection);
    }
};
using ConnectionPtr = std::unique_ptr<xcb_connection_t, ConnectionDeleter>;

struct Atoms {
    xcb_atom_t clipboard = XCB_NONE;
    xcb_atom_t this_clipboard_out = XCB_NONE;
    xcb_atom_t targets = XCB_NONE;
    xcb_atom_t utf8_string = XCB_NONE;
    xcb_atom_t incr = XCB_NONE;
    xcb_atom_t multiple = XCB_NONE;
    xcb_atom_t timestamp = XCB_NONE;
};

struct Connection {
    ConnectionPtr xcb;
    xcb_window_t window = XCB_NONE;
    Atoms atoms;

    // Connects to `display` (screen 0 when it names none), creates a 1x1 input-output
    // window that is never mapped and interns the atoms. A local display is used only when
    // its server runs as our user or as root; each step that waits for the server gives up
    // after wait_limit.
    static std::expected<Connection, ClipboardError> open(std::string_view display);

    // Set once a deadline of bounded() has ended the connection: the server did not answer in
    // time. Behind a pointer, so that it stays where the deadline looks while the connection moves.
    std::unique_ptr<volatile std::sig_atomic_t> timed_out =
        std::make_unique<volatile std::sig_atomic_t>(0);
    // Changes of CLIPBOARD's owner seen on this connection, once watch_owner_changes asked for
    // them (owner_changes.hpp); 0 names no event.
    std::uint8_t owner_change_event = 0;
    mutable std::uint64_t owner_changes = 0;

    xcb_connection_t* get() const { return xcb.get(); }

    // Every event taken from the connection passes here, so that no change goes uncounted.
    void notice(const xcb_generic_event_t& event) const {
        if (owner_change_event != 0 && event_type(event) == owner_change_event)
            ++owner_changes;
    }

    // A deadline for the calls this thread makes while the result lives.
    Deadline bounded() const {
        return Deadline(xcb_get_file_descriptor(xcb.get()), wait_limit, timed_out.get());
    }
};

} // namespace x11clip
