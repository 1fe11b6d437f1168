#include "supervisor.hpp"

#include <fmt/format.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <memory>
#include <thread>
#include <utility>

#include "debug_text.hpp"
#include "end_worker.hpp"
#include "fatal.hpp"
#include "kill_after.hpp"
#include "log.hpp"
#include "util/errno_text.hpp"
#include "wait_status.hpp"
#include "worker_handle.hpp"

namespace quillfen {

namespace {

constexpr std::int32_t aborts_tolerated = 3;

[[noreturn]] void fail_managing(const WorkerHandle& worker, int code) {
    end_worker(worker);
    fatal(fmt::format("there was a problem managing the child process, so the service is exiting. "
                      "check that pid {} is not running before restarting this service: {}",
                      worker.pid(), util::errno_name(code)));
}

WaitStatus wait_for_end(const WorkerHandle& worker) {
    const auto status = worker.wait();
    if (!status)
        fail_managing(worker, status.error());
    return *status;
}

// The one handle through which the worker is waited for, timed and ended. Without it the
// worker cannot be managed: it is killed by its id, which still names it since it has not been
// collected, and the supervisor gives up as when its timer cannot start.
std::shared_ptr<const WorkerHandle> hold(pid_t pid) {
    auto worker = WorkerHandle::open(pid);
    QF_DEBUG("child process {} successfully initialized.", pid);
    if (!worker) {
        kill_unheld_worker(pid);
        fatal(fmt::format("failed to start the timer of child process {}: {}", pid,
                          util::errno_name(worker.error())));
    }
    return std::make_shared<const WorkerHandle>(std::move(*worker));
}

// What a launcher leaves behind survives exec. An ignored SIGCHLD has every worker reaped at its
// end, before the wait below can collect it; blocked signals would keep SIGTERM from ending the
// supervisor, and, inherited by each worker, from reaching the worker's own handler, so that
// neither the timer nor the supervisor's end could end a worker.
void take_signal_state() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(SIGCHLD, &action, nullptr);
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
}

// In a new worker, before anything else.
void tie_to_supervisor(pid_t supervisor, util::UniqueFd& supervisor_only) {
    supervisor_only.reset();
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) {
        fatal(
            fmt::format("Failed to tie the worker to its supervisor: {}", util::errno_name(errno)));
    }
    // The supervisor may have died before the line above: then no signal would come.
    if (getppid() != supervisor)
        raise(SIGTERM);
}

} // namespace

void supervise(const std::function<void()>& worker, unsigned timer_seconds,
               util::UniqueFd supervisor_only) {
    take_signal_state();
    QF_INFO("started quillfen manager");

    const pid_t supervisor = getpid();
    std::int32_t aborts = 0;
    for (;;) {
        const pid_t pid = fork();
        if (pid < 0)
            fatal(fmt::format("Failed to fork: {}", util::errno_name(errno)));
        if (pid == 0) {
            tie_to_supervisor(supervisor, supervisor_only);
            worker();
            _exit(0);
        }
        const auto handle = hold(pid);
        kill_after(timer_seconds, handle);

        const WaitStatus status = wait_for_end(*handle);
        QF_DEBUG("child process {} completed with: {}", pid, debug_text(status));
        if (status.is_abort()) {
            ++aborts;
            if (aborts > aborts_tolerated)
                fatal(fmt::format("child process {} panicked too many times.", pid));
            QF_FATAL("child process {} panicked. giving it another try", pid);
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}

} // namespace quillfen
