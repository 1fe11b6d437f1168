#pragma once
// The service's first process for its whole life: it runs the worker loop in one forked worker
// at a time, ends each worker a fixed time after its start, and gives up after the fourth abort.

#include <functional>

namespace quillfen {

// Never returns: it ends only through a fatal condition (exit status 101) or a signal. A worker
// function that returns ends its worker with status 0.
[[noreturn]] void supervise(const std::function<void()>& worker, unsigned timer_seconds);

} // namespace quillfen
