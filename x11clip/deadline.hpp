// Time limits for blocking libxcb calls. libxcb waits on its socket without a limit (and retries
// a wait that a signal interrupts), so when a deadline passes a timer signal shuts the socket
// down: libxcb's wait then returns and the connection fails, instead of hanging on a server that
// never answers. No thread is involved; the timer belongs to the calling thread.
#pragma once

#include <chrono>
#include <csignal>

#include "util/unique_fd.hpp"

namespace x11clip {

// How long one call that waits for the server may take.
inline constexpr std::chrono::milliseconds wait_limit{2000};

// A deadline for the calls the current thread makes on `fd` while it lives. When it fires, it
// sets `*fired` (if given) besides shutting the socket down. It watches a
// duplicate of its own, which shuts down the same socket: the caller (or libxcb, when a
// handshake fails) may close `fd` meanwhile, and a firing deadline must not shut down
// whatever descriptor takes the number next. A deadline armed while another is armed on the
// same thread adds nothing: the outer one already bounds the calls.
class Deadline {
  public:
    explicit Deadline(int fd, std::chrono::milliseconds limit = wait_limit,
                      volatile std::sig_atomic_t* fired = nullptr);
    ~Deadline();
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

  private:
    util::UniqueFd watched_; // closed once the timer is disarmed
};

} // namespace x11clip
