// How a worker ends when asked to. SIGTERM is only recorded; the worker stops at its next
// pause, lets the transfers under way on every clipboard finish within a few seconds, and
// then ends by SIGTERM after all, so that its supervisor sees the end it always saw.
#pragma once

#include <chrono>

#include "clipboard.hpp"

namespace quillfen {

// The longest the transfers under way are given once the worker stops.
inline constexpr std::chrono::seconds ending_limit{5};

// From now on SIGTERM is recorded instead of ending the process at once.
void record_end_requests();

// Sleeps for `duration`, unless an end has been asked for, before or meanwhile: then it returns
// false at once.
bool pause_unless_asked_to_end(std::chrono::nanoseconds duration);

// Sleeps for `duration`, unless an end has been asked for, before or meanwhile: then it ends
// the process as asked, finishing `clipboards`, and does not return.
void pause_or_end(const ClipboardList& clipboards, std::chrono::nanoseconds duration);

// Lets the transfers under way on `clipboards`, which own every one this process serves, finish
// (within ending_limit), logs the ones that could not, and ends the process by SIGTERM.
[[noreturn]] void end_as_asked(const ClipboardList& clipboards);

} // namespace quillfen
