// A connection to the compositor, with round trips that give up after a time limit.
#pragma once

#include <poll.h>

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "wlclip/address.hpp"
#include "wlclip/error.hpp"
#include "wlclip/failure.hpp"
#include "wlclip/protocol.hpp"

namespace wlclip {

class Connection {
  public:
    using Clock = std::chrono::steady_clock;

    // `limit` bounds the wait for a compositor whose listen queue is full.
    static std::expected<Connection, SetupFailure> open(Endpoint endpoint,
                                                        std::chrono::milliseconds limit);

    wl_display* display() const noexcept { return display_.get(); }
    int fd() const noexcept;

    // Descriptors a dispatch loop polls beside the display's: `add` appends them anew before
    // each wait, `woken` gets their revents after it and ends the loop with the error it
    // returns.
    struct Watched {
        std::function<void(std::vector<pollfd>&)> add;
        std::function<std::expected<void, IoError>(std::span<const pollfd>)> woken;
    };

    // Sends what is queued and dispatches events until `done` holds. ETIMEDOUT once `deadline`
    // (time_point::max() for none) has passed, even while events keep coming.
    std::expected<void, IoError> dispatch_until(const std::function<bool()>& done,
                                                Clock::time_point deadline,
                                                const Watched& watched = {});

    // Sends what is queued and dispatches events until the compositor has answered
    // everything sent before. ETIMEDOUT after `limit`; ECANCELED when `stop_fd` (if not -1)
    // becomes readable.
    std::expected<void, IoError> roundtrip(std::chrono::milliseconds limit, int stop_fd = -1);

    // Dispatches the events already read from the socket, without reading it.
    bool dispatch_queued();
    // Reads what the compositor has sent so far, without waiting, and dispatches it. False once
    // the connection has failed.
    bool dispatch_available();

    bool failed() const noexcept;
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
