// The timer that ends each worker a fixed time after it was started, so that every worker's
// state is rebuilt from a fresh copy of the supervisor periodically.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "worker_handle.hpp"

namespace quillfen {

// Starts a detached timer thread for the worker `pid` and returns at once. Must be called before
// the worker's end is collected. Failing to start the timer is a fatal condition, which ends the
// worker first.
void kill_after(std::uint64_t seconds, pid_t pid);

// One timer's whole life on the calling thread: sleep, look at the worker, end it with SIGTERM
// when it still runs.
void run_timer(std::uint64_t seconds, const WorkerHandle& worker);

} // namespace quillfen
