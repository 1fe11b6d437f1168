#include "worker_handle.hpp"

#include <cerrno>
#include <csignal>
// This C library's header declares its functions without C linkage.
extern "C" {
#include <sys/pidfd.h>
}
#include <sys/wait.h>
#include <utility>

namespace quillfen {

std::expected<WorkerHandle, int> WorkerHandle::open(pid_t pid) {
    util::UniqueFd fd(pidfd_open(pid, 0));
    if (!fd && errno == ESRCH) {
        // The worker's end was collected before we could hold it (SIGCHLD ignored by whoever
        // started us reaps at once). There is nothing left to end: an empty handle reads as a
        // collected worker, and the supervisor's own wait reports what happened.
        return WorkerHandle(pid, util::UniqueFd());
    }
    if (!fd) {
        return std::unexpected(errno);
    }
    return WorkerHandle(pid, std::move(fd));
}

std::expected<WaitStatus, int> WorkerHandle::look() const {
    if (!fd_) {
        return std::unexpected(ECHILD);
    }
    siginfo_t info{};
    int result;
    do {
        result = waitid(P_PIDFD, static_cast<id_t>(fd_.get()), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        return std::unexpected(errno);
    }
    auto status = decode_wait_info(info);
    if (!status) {
        return std::unexpected(EINVAL);
    }
    return *status;
}

std::expected<void, int> WorkerHandle::terminate() const {
    if (!fd_) {
        return std::unexpected(ESRCH);
    }
    if (pidfd_send_signal(fd_.get(), SIGTERM, nullptr, 0) < 0) {
        return std::unexpected(errno);
    }
    return {};
}

} // namespace quillfen
