#include "worker_handle.hpp"

#include <cerrno>
#include <csignal>
// This C library's header declares its functions without C linkage.
extern "C" {
#include <sys/pidfd.h>
}
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace quillfen {

std::expected<WorkerHandle, int> WorkerHandle::open(pid_t pid) {
    const int fd = pidfd_open(pid, 0);
    if (fd < 0 && errno == ESRCH) {
        // The worker's end was collected before we could hold it (SIGCHLD ignored by whoever
        // started us reaps at once). There is nothing left to end: an empty handle reads as a
        // collected worker, and the supervisor's own wait reports what happened.
        return WorkerHandle(pid, -1);
    }
    if (fd < 0) {
        return std::unexpected(errno);
    }
    return WorkerHandle(pid, fd);
}

WorkerHandle::WorkerHandle(WorkerHandle&& other) noexcept
    : pid_(other.pid_), fd_(std::exchange(other.fd_, -1)) {}

WorkerHandle& WorkerHandle::operator=(WorkerHandle&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        pid_ = other.pid_;
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

WorkerHandle::~WorkerHandle() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::expected<WaitStatus, int> WorkerHandle::look() const {
    if (fd_ < 0) {
        return std::unexpected(ECHILD);
    }
    siginfo_t info{};
    int result;
    do {
        result = waitid(P_PIDFD, static_cast<id_t>(fd_), &info, WEXITED | WNOHANG | WNOWAIT);
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
    if (fd_ < 0) {
        return std::unexpected(ESRCH);
    }
    if (pidfd_send_signal(fd_, SIGTERM, nullptr, 0) < 0) {
        return std::unexpected(errno);
    }
    return {};
}

} // namespace quillfen
