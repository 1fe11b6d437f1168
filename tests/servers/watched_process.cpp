#include "watched_process.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace quillfen::testing {

namespace {

void make_pipe(int fds[2]) {
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    }
}

} // namespace

WatchedProcess::WatchedProcess(const std::vector<std::string>& argv, const WatchOptions& options) {
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (options.stdout_mode != WatchOptions::Stdout::closed) {
        make_pipe(out);
    }
    if (options.stderr_fd == -1) {
        make_pipe(err);
    }
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    pid_ = fork();
    if (pid_ < 0) {
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
    if (pid_ == 0) {
        setpgid(0, 0);
        std::signal(SIGPIPE, SIG_DFL);
        for (const auto& entry : options.environment) {
            putenv(const_cast<char*>(entry.c_str()));
        }
        dup2(options.stderr_fd == -1 ? err[1] : options.stderr_fd, STDERR_FILENO);
        if (options.stdout_mode == WatchOptions::Stdout::closed) {
            close(STDOUT_FILENO);
        } else {
            dup2(out[1], STDOUT_FILENO);
            if (options.stdout_mode == WatchOptions::Stdout::broken_pipe) {
                close(out[0]);
            }
        }
        if (options.user && (setgroups(0, nullptr) != 0 || setgid(options.user->second) != 0 ||
                             setuid(options.user->first) != 0)) {
            _exit(126);
        }
        execv(args[0], args.data());
        _exit(127);
    }
    setpgid(pid_, pid_);
    if (out[1] >= 0) {
        close(out[1]);
    }
    if (err[1] >= 0) {
        close(err[1]);
    }
    if (options.stdout_mode == WatchOptions::Stdout::pipe) {
        out_fd_ = out[0];
    } else if (out[0] >= 0) {
        close(out[0]);
    }
    err_fd_ = err[0];
}

WatchedProcess::~WatchedProcess() {
    kill_group();
    if (!status_) {
        reap(true);
    }
    if (out_fd_ >= 0) {
        close(out_fd_);
    }
    if (err_fd_ >= 0) {
        close(err_fd_);
    }
}

void WatchedProcess::collect(int timeout_ms) {
    std::array<pollfd, 2> fds{pollfd{out_fd_, POLLIN, 0}, pollfd{err_fd_, POLLIN, 0}};
    std::array<std::string*, 2> sinks{&out_, &err_};
    std::array<int*, 2> owners{&out_fd_, &err_fd_};
    if (out_fd_ < 0 && err_fd_ < 0) {
        poll(nullptr, 0, timeout_ms);
        return;
    }
    if (poll(fds.data(), fds.size(), timeout_ms) <= 0) {
        return;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
        if (got > 0) {
            sinks[i]->append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            close(*owners[i]);
            *owners[i] = -1;
        }
    }
}

bool WatchedProcess::reap(bool block) {
    int raw = 0;
    const pid_t got = waitpid(pid_, &raw, block ? 0 : WNOHANG);
    if (got == pid_) {
        status_ = raw;
        return true;
    }
    return false;
}

bool WatchedProcess::wait_until(const std::function<bool()>& done,
                                std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        collect(static_cast<int>(std::min<long>(left.count(), 100)));
    }
    return true;
}

bool WatchedProcess::wait_for_out(std::string_view text, std::chrono::milliseconds timeout) {
    return wait_until([&] { return out_.find(text) != std::string::npos; }, timeout);
}

bool WatchedProcess::wait_for_err(std::string_view text, std::chrono::milliseconds timeout) {
    return wait_until([&] { return err_.find(text) != std::string::npos; }, timeout);
}

std::optional<int> WatchedProcess::wait_exit(std::chrono::milliseconds timeout) {
    const bool ended = wait_until([&] { return status_ || reap(false); }, timeout);
    if (!ended) {
        return std::nullopt;
    }
    // The rest of the output; descendants that still hold the pipes are not waited for long.
    wait_until([&] { return out_fd_ < 0 && err_fd_ < 0; }, std::chrono::milliseconds(500));
    return status_;
}

void WatchedProcess::signal(int number) const {
    if (!status_) {
        ::kill(pid_, number);
    }
}

void WatchedProcess::kill_group() const {
    ::kill(-pid_, SIGKILL);
}

std::size_t count_of(std::string_view haystack, std::string_view needle) {
    std::size_t count = 0;
    for (auto at = haystack.find(needle); at != std::string_view::npos;
         at = haystack.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

} // namespace quillfen::testing
