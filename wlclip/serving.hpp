// The serving threads of this process, so that a process about to end can have every one of
// them stop taking requests and finish the transfers under way first.
#pragma once

#include <chrono>

#include "wlclip/transfers.hpp"

namespace wlclip {

class ServingThread;
using ServingClock = std::chrono::steady_clock;

// Asks every serving thread, and every one started later, to take no more requests: each
// closes its compositor connection and finishes the transfers under way by `by`, each given
// up after serving_idle_limit without progress.
void stop_serving(ServingClock::time_point by);

// Waits until every serving thread has ended, a moment past `by` at most. What the transfers
// given up since stop_serving lacked.
Unfinished wait_for_serving_threads(ServingClock::time_point by);

// For ServingThread alone: one is listed from its thread's start until its thread has been
// joined.
void list_serving(ServingThread& serving);
void unlist_serving(ServingThread& serving);

} // namespace wlclip
