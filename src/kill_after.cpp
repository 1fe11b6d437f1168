#include "kill_after.hpp"

#include <fmt/format.h>

#include <chrono>
#include <system_error>
#include <thread>

#include "debug_text.hpp"
#include "end_worker.hpp"
#include "fatal.hpp"
#include "log.hpp"
#include "util/errno_text.hpp"

namespace quillfen {

void run_timer(std::uint64_t seconds, const WorkerHandle& worker) {
    const pid_t pid = worker.pid();
    QF_DEBUG("waiting {} seconds and then killing {}.", seconds, pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));

    const auto status = worker.look();
    if (!status) {
        QF_ERROR("error getting status of child process {}: {}", pid,
                 util::errno_full(status.error()));
        return;
    }
    if (!std::holds_alternative<WaitStatus::StillAlive>(status->value)) {
        // The worker has ended; the supervisor collects it. There is nothing left to end.
        QF_WARN("expected child process {} to be StillAlive but got: {}", pid, debug_text(*status));
        return;
    }
    QF_DEBUG("child {} is still alive, as expected.", pid);
    QF_DEBUG("routinely attempting to kill child process {}.", pid);
    if (const auto sent = worker.terminate(); !sent)
        QF_ERROR("error killing child process {}: {}", pid, util::errno_full(sent.error()));
}

void kill_after(std::uint64_t seconds, std::shared_ptr<const WorkerHandle> worker) {
    const pid_t pid = worker->pid();
    try {
        std::thread([seconds, worker] {
            // A log line that cannot be written ends this timer alone, not the supervisor.
            const FatalEndsThread fatal_ends_thread;
            try {
                run_timer(seconds, *worker);
            } catch (const ThreadFatal&) {
            }
        }).detach();
    } catch (const std::system_error& error) {
        end_worker(*worker);
        fatal(fmt::format("failed to start the timer of child process {}: {}", pid,
                          util::errno_name(error.code().value())));
    }
}

} // namespace quillfen
