// The one handle on a worker process, opened right after its fork: the supervisor's wait, its
// timer and its ending all go through it. A process id may be given to another process once the
// worker's end has been collected, a pidfd never names anything else.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <expected>
#include <optional>
#include <utility>

#include "util/unique_fd.hpp"
#include "wait_status.hpp"

namespace quillfen {

class WorkerHandle {
  public:
    // Fails with the error number. A worker whose end was already collected gives an empty
    // handle, which reads as collected (ECHILD) and signals nothing (ESRCH).
    static std::expected<WorkerHandle, int> open(pid_t pid);

    pid_t pid() const { return pid_; }

    // Blocks until the worker has ended and collects its end: how it ended. Fails with ECHILD
    // for an empty handle or a worker collected already.
    std::expected<WaitStatus, int> wait() const;

    // Tells whether the worker still runs or how it ended, without collecting its end, so that
    // wait() still receives the status. Fails with ECHILD once wait() has collected it.
    std::expected<WaitStatus, int> look() const;

    // SIGTERM to this worker alone; fails with ESRCH once its end has been collected.
    std::expected<void, int> terminate() const;

    // SIGKILL to this worker alone; fails as terminate() does.
    std::expected<void, int> kill() const;

    // Waits up to `limit` (forever when nullopt) for the worker to end, without collecting it;
    // true once it has ended. Fails with ECHILD for an empty handle.
    std::expected<bool, int> wait_end(std::optional<std::chrono::milliseconds> limit) const;

  private:
    WorkerHandle(pid_t pid, util::UniqueFd fd) : pid_(pid), fd_(std::move(fd)) {}
    std::expected<void, int> send(int signal) const;
    std::expected<siginfo_t, int> wait_info(int options) const;

    pid_t pid_;
    util::UniqueFd fd_;
};

} // namespace quillfen
