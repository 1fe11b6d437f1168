// Writes one text to every requester at once, without blocking: a reader that stops
// reading holds up nobody but itself. The requester's descriptor keeps its flags: it shares
// its open file description with the requester's own, which may be its standard output.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "util/unique_fd.hpp"

namespace wlclip {

// Transfers given up before their end, and the bytes their readers were not sent.
struct Unfinished {
    std::size_t transfers = 0;
    std::size_t missing_bytes = 0;
};

class Transfers {
  public:
    explicit Transfers(std::shared_ptr<const std::string> bytes) : bytes_(std::move(bytes)) {}

    // Starts serving a requester's write end.
    void add(util::UniqueFd write_end);
    std::size_t size() const noexcept { return pending_.size(); }

    // One entry per transfer, in order, for poll().
    void append_pollfds(std::vector<pollfd>& fds) const;
    // Writes what each ready descriptor takes; closes those that are done or failed.
    // `fds` are the entries append_pollfds gave, after poll().
    void service(const pollfd* fds);

    using Clock = std::chrono::steady_clock;
    // Serves every transfer under way to its end; one whose reader takes nothing for
    // `idle_limit`, and every one left at the time `end_by` gives, is closed early. `end_by`
    // is asked anew whenever `wake_fd` (an eventfd, read here) becomes readable. Returns
    // when none is left, with what those closed early lacked.
    Unfinished finish(std::chrono::milliseconds idle_limit,
                      const std::function<Clock::time_point()>& end_by = {}, int wake_fd = -1);

  private:
    struct Pending {
        util::UniqueFd fd;
        std::size_t chunk = 0; // the most one write() may take without blocking
        std::size_t written = 0;
        Clock::time_point progressed{}; // when a write last took bytes
    };
    bool write_some(Pending& p); // false when the transfer is over
    std::shared_ptr<const std::string> bytes_;
    std::vector<Pending> pending_;
};

} // namespace wlclip
