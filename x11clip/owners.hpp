// The owners of this process, so that a process about to end can have every one of them
// finish the incremental transfers under way first.
#pragma once

#include <chrono>

namespace x11clip {

class Owner;
using OwnersClock = std::chrono::steady_clock;

// Has every owner, and every one started later, refuse all requests from now on and finish
// its incremental transfers under way by `by`, each given up after incr_idle_limit without
// progress; each owner thread ends then.
void stop_serving(OwnersClock::time_point by);

// Waits until every owner thread has ended, a moment past `by` at most.
void wait_for_owner_threads(OwnersClock::time_point by);

// For Owner alone: an owner is listed from its thread's start until its destruction begins.
void list_owner(Owner& owner);
void unlist_owner(Owner& owner);

} // namespace x11clip
