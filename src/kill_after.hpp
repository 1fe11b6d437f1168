// The timer that ends each worker a fixed time after it was started, so that every worker's
// state is rebuilt from a fresh copy of the supervisor periodically.
#pragma once

#include <cstdint>
#include <memory>

#include "worker_handle.hpp"

namespace quillfen {

// Starts a detached timer thread for the worker and returns at once. The thread shares the
// handle, which may outlive the supervisor's wait: the timer then finds the worker collected.
// Failing to start the timer is a fatal condition, which ends the worker first.
void kill_after(std::uint64_t seconds, std::shared_ptr<const WorkerHandle> worker);

// One timer's whole life on the calling thread: sleep, look at the worker, end it with SIGTERM
// when it still runs.
void run_timer(std::uint64_t seconds, const WorkerHandle& worker);

} // namespace quillfen
