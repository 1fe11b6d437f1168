// Ending the worker before the supervisor gives up, so that no worker goes on without it.
#pragma once

#include <sys/types.h>

#include <chrono>

#include "worker_handle.hpp"

namespace quillfen {

// How long a worker sent SIGTERM may take to end before it is killed.
inline constexpr std::chrono::seconds worker_end_grace{5};

// Sends SIGTERM to the worker, which the supervisor has not collected, and returns once it has
// ended; after `worker_end_grace` it is sent SIGKILL. A worker that has ended or was collected
// already is left alone.
void end_worker(const WorkerHandle& worker);

// For a worker whose handle could not be opened: SIGKILL to `pid` while it runs, and returns
// once it has ended. The id still names the worker only because the supervisor has not
// collected it; a process that is not this process's uncollected child is left alone.
void kill_unheld_worker(pid_t pid);

} // namespace quillfen
