#include "worker_handle.hpp"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <csignal>
// This C library's header declares its functions without C linkage.
extern "C" {
#include <sys/pidfd.h>
}
#include <sys/wait.h>

#include <utility>
#include <variant>

#include "util/poll_timeout.hpp"

namespace quillfen {

std::expected<WorkerHandle, int> WorkerHandle::open(pid_t pid) {
    util::UniqueFd fd(pidfd_open(pid, 0));
    if (!fd && errno == ESRCH) {
        // The worker's end was collected before we could hold it (SIGCHLD ignored by whoever
        // started us reaps at once). There is nothing left to end: an empty handle reads as a
        // collected worker, and the supervisor's own wait reports what happened.
        return WorkerHandle(pid, util::UniqueFd());
    }
    if (!fd)
        return std::unexpected(errno);
    return WorkerHandle(pid, std::move(fd));
}

std::expected<siginfo_t, int> WorkerHandle::wait_info(int options) const {
    if (!fd_)
        return std::unexpected(ECHILD);
    siginfo_t info{};
    int result;
    do {
        result = waitid(P_PIDFD, static_cast<id_t>(fd_.get()), &info, WEXITED | options);
    } while (result < 0 && errno == EINTR);
    if (result < 0)
        return std::unexpected(errno);
    return info;
}

std::expected<WaitStatus, int> WorkerHandle::wait() const {
    const auto info = wait_info(0);
    if (!info)
        return std::unexpected(info.error());
    auto status = decode_wait_info(*info);
    // A wait without WNOHANG returns only an end.
    if (!status || std::holds_alternative<WaitStatus::StillAlive>(status->value))
        return std::unexpected(EINVAL);
    return *status;
}

std::expected<WaitStatus, int> WorkerHandle::look() const {
    const auto info = wait_info(WNOHANG | WNOWAIT);
    if (!info)
        return std::unexpected(info.error());
    auto status = decode_wait_info(*info);
    if (!status)
        return std::unexpected(EINVAL);
    return *status;
}

std::expected<void, int> WorkerHandle::terminate() const {
    return send(SIGTERM);
}

std::expected<void, int> WorkerHandle::kill() const {
    return send(SIGKILL);
}

std::expected<void, int> WorkerHandle::send(int signal) const {
    if (!fd_)
        return std::unexpected(ESRCH);
    if (pidfd_send_signal(fd_.get(), signal, nullptr, 0) < 0)
        return std::unexpected(errno);
    return {};
}

std::expected<bool, int>
WorkerHandle::wait_end(std::optional<std::chrono::milliseconds> limit) const {
    if (!fd_)
        return std::unexpected(ECHILD);
    const auto deadline =
        limit ? util::SteadyClock::now() + *limit : util::SteadyClock::time_point::max();
    for (;;) {
        // A pidfd reads as ready once its process has ended.
        pollfd ready{fd_.get(), POLLIN, 0};
        const int result = poll(&ready, 1, util::poll_timeout(deadline));
        if (result > 0)
            return true;
        if (result == 0)
            return false;
        if (errno != EINTR)
            return std::unexpected(errno);
    }
}

} // namespace quillfen
