// The service's first process for its whole life: it runs the worker loop in one forked worker
// at a time, ends each worker a fixed time after its start, and gives up after the fourth abort.
#pragma once

#include <functional>

#include "util/unique_fd.hpp"

namespace quillfen {

// Never returns: it ends only through a fatal condition (exit status 101) or a signal. A worker
// function that returns ends its worker with status 0. Each worker ends when the supervisor ends,
// however that happens (it is sent SIGTERM), and closes its copy of `supervisor_only` at once,
// so that the supervisor alone holds it. It first puts SIGCHLD back to its default and unblocks
// every signal, whatever the process that started it left.
[[noreturn]] void supervise(const std::function<void()>& worker, unsigned timer_seconds,
                            util::UniqueFd supervisor_only = {});

} // namespace quillfen
