// A connection to the compositor, with round trips that give up after a time limit.
#pragma once

#include <chrono>
#include <expected>
#include <memory>
#include <string>
#include <variant>

#include "util/unique_fd.hpp"
#include "wlclip/error.hpp"
#include "wlclip/failure.hpp"
#include "wlclip/protocol.hpp"

namespace wlclip {

// Where the compositor is: the path of its socket, or a connected descriptor handed down
// in WAYLAND_SOCKET.
using Address = std::variant<std::string, util::UniqueFd>;

// Reads WAYLAND_SOCKET (removing it from the environment), else XDG_RUNTIME_DIR and
// WAYLAND_DISPLAY. Touches the environment, so call it on the thread that sets it.
std::expected<Address, ConnectError> resolve_address();

class Connection {
  public:
    // `limit` bounds the wait for a compositor whose listen queue is full.
    static std::expected<Connection, SetupFailure> open(Address address,
                                                        std::chrono::milliseconds limit);

    wl_display* display() const noexcept { return display_.get(); }
    int fd() const noexcept;

    // Sends what is queued and dispatches events until the compositor has answered
    // everything sent before. ETIMEDOUT after `limit`; ECANCELED when `stop_fd` (if not -1)
    // becomes readable.
    std::expected<void, IoError> roundtrip(std::chrono::milliseconds limit, int stop_fd = -1);

    // The error that broke the connection (EPROTO for a protocol error).
    IoError error() const noexcept;

  private:
    struct Disconnect {
        void operator()(wl_display* d) const { wl_display_disconnect(d); }
    };
    explicit Connection(wl_display* d) : display_(d) {}
    std::unique_ptr<wl_display, Disconnect> display_;
};

} // namespace wlclip
