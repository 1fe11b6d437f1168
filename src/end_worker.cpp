#include "end_worker.hpp"

#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <variant>

#include "wait_status.hpp"

namespace quillfen {

void end_worker(const WorkerHandle& worker) {
    // Collected already, ended, or not our child: nothing to end.
    const auto status = worker.look();
    if (!status || !std::holds_alternative<WaitStatus::StillAlive>(status->value))
        return;
    if (worker.terminate()) {
        if (const auto ended = worker.wait_end(worker_end_grace); ended && *ended)
            return;
    }
    if (worker.kill())
        (void)worker.wait_end(std::nullopt);
}

void kill_unheld_worker(pid_t pid) {
    // waitid refuses a process that is not our child.
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        info.si_pid != 0)
        return;
    kill(pid, SIGKILL);
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
}

} // namespace quillfen
