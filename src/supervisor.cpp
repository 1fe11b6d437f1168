#include "supervisor.hpp"

#include <fmt/format.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <thread>

#include "debug_text.hpp"
#include "end_worker.hpp"
#include "fatal.hpp"
#include "kill_after.hpp"
#include "log.hpp"
#include "util/errno_text.hpp"
#include "wait_status.hpp"

namespace quillfen {

namespace {

constexpr std::int32_t aborts_tolerated = 3;

[[noreturn]] void fail_managing(pid_t pid, int code) {
    end_worker(pid);
    fatal(fmt::format("there was a problem managing the child process, so the service is exiting. "
                      "check that pid {} is not running before restarting this service: {}",
                      pid, util::errno_name(code)));
}

WaitStatus wait_for_end(pid_t pid) {
    int raw = 0;
    pid_t result;
    do {
        result = waitpid(pid, &raw, 0);
    } while (result < 0 && errno == EINTR);
    if (result < 0)
        fail_managing(pid, errno);
    auto status = decode_wait_status(pid, raw);
    if (!status)
        fail_managing(pid, EINVAL);
    return *status;
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
        QF_DEBUG("child process {} successfully initialized.", pid);
        kill_after(timer_seconds, pid);

        const WaitStatus status = wait_for_end(pid);
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
