// Ending the worker before the supervisor gives up, so that no worker goes on without it.
#pragma once

#include <sys/types.h>

#include <chrono>

namespace quillfen {

// How long a worker sent SIGTERM may take to end before it is killed.
inline constexpr std::chrono::seconds worker_end_grace{5};

// Sends SIGTERM to the worker `pid`, which the supervisor has not collected, and returns once it
// has ended; after `worker_end_grace` it is sent SIGKILL. A process that is not (or no longer)
// this process's uncollected child is left alone.
void end_worker(pid_t pid);

} // namespace quillfen
