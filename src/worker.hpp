// The life of one worker process: discover the clipboards, keep them synced, and recover from the
// sync loop's errors by rediscovery until too many of them come too close together.
#pragma once

#include <chrono>
#include <expected>
#include <functional>
#include <span>
#include <string>

#include "clipboard.hpp"
#include "discovery.hpp"
#include "error.hpp"
#include "shared_text_record.hpp"

namespace quillfen {

// A reading of the real-time (wall) clock, with nanoseconds.
using WallTime = std::chrono::system_clock::time_point;

// The sum over every recorded error of 2^(-age/60 s), age in whole seconds before `now`.
double error_score(std::span<const WallTime> times, WallTime now);

// What the worker loop calls besides logging; production uses discovery, the sync loop, the
// system clock and pauses that end the worker once it was asked to end, while tests script
// them.
struct WorkerSteps {
    // Given the clipboards still held (none at the first discovery), which still serve our texts.
    std::function<std::expected<Discovered, MyError>(const ClipboardList& held)> discover;
    // The sync loop over what the latest discovery found, from the text it gave them all.
    std::function<MyError(const ClipboardList&, const std::string& start_text)> sync;
    std::function<WallTime()> now;
    // Given the clipboards held, which an end asked for meanwhile finishes.
    std::function<void(const ClipboardList&, std::chrono::nanoseconds)> pause;
};

// Discovery puts `record`'s text back when no clipboard holds a text, and the text the clipboards
// share goes into `record` when discovery chooses it and with every change.
WorkerSteps production_worker_steps(SharedTextRecord& record);

// Ends only through a fatal condition (exit status 101), or when a signal ends the process.
[[noreturn]] void run_with(const WorkerSteps& steps);

// The worker loop on the real clipboards.
[[noreturn]] void run(SharedTextRecord& record);

} // namespace quillfen
