// The serving threads of this process, so that a process about to end can have every one of
// them stop taking requests and finish the transfers under way first.
#pragma once

#include <chrono>

#include "wlclip/transfers.hpp"

namespace wlclip {

using ServingClock = std::chrono::steady_clock;

// Asks every serving thread, and every one started later, to take no more requests: each
// closes its compositor connection and finishes the transfers under way by `by`, each given
// up after pipe_idle_limit without progress.
void stop_serving(ServingClock::time_point by);

// Waits until every serving thread has ended, a moment past `by` at most. What the transfers
// given up since stop_serving lacked.
Unfinished wait_for_serving_threads(ServingClock::time_point by);

// A serving thread's entry, for the thread's life.
class ServingEntry {
  public:
    // `stop_fd`, an eventfd that outlives the entry, is written when the process asks its
    // serving threads to stop.
    explicit ServingEntry(int stop_fd);
    ~ServingEntry();
    ServingEntry(const ServingEntry&) = delete;
    ServingEntry& operator=(const ServingEntry&) = delete;

    // When the thread's transfers must be done: far ahead until the process asks to stop.
    static ServingClock::time_point finish_by();
    // What the thread's transfers given up lacked; counted once the process asked to stop.
    void report(const Unfinished& cut);

  private:
    int stop_fd_;
};

} // namespace wlclip
