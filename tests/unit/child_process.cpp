#include "child_process.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillfen::testing {

namespace {

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            std::abort();
        read = fds[0];
        write = fds[1];
    }
};

void close_fd(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

} // namespace

ChildResult run_in_child(const std::function<int()>& body, const ChildOptions& options) {
    Pipe out, err;
    const pid_t pid = fork();
    if (pid < 0)
        std::abort();
    if (pid == 0) {
        setpgid(0, 0);
        if (options.default_sigpipe)
            std::signal(SIGPIPE, SIG_DFL);
        dup2(err.write, STDERR_FILENO);
        switch (options.stdout_mode) {
        case StdoutMode::pipe:
            dup2(out.write, STDOUT_FILENO);
            break;
        case StdoutMode::closed:
            close(STDOUT_FILENO);
            break;
        case StdoutMode::broken_pipe: {
            Pipe orphan;
            dup2(orphan.write, STDOUT_FILENO);
            close(orphan.read);
            close(orphan.write);
            break;
        }
        }
        _exit(body());
    }
    setpgid(pid, pid);
    close_fd(out.write);
    close_fd(err.write);

    ChildResult result;
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    std::array<pollfd, 2> fds{pollfd{out.read, POLLIN, 0}, pollfd{err.read, POLLIN, 0}};
    std::array<std::string*, 2> sinks{&result.out, &result.err};
    bool stop = false;
    while ((fds[0].fd >= 0 || fds[1].fd >= 0) && !stop) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            break;
        }
        const int ready = poll(fds.data(), fds.size(), static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                continue;
            }
            sinks[i]->append(buffer, static_cast<std::size_t>(n));
            if (i == 0 && options.stop_after_first_stdout_line &&
                result.out.find('\n') != std::string::npos) {
                result.stopped_after_line = true;
                stop = true;
            }
        }
    }
    if (result.timed_out || stop)
        kill(-pid, SIGKILL);
    for (auto& fd : fds)
        close_fd(fd.fd);

    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            std::abort();
        if (std::chrono::steady_clock::now() >= deadline) {
            result.timed_out = true;
            kill(-pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        usleep(10'000);
    }
    if (WIFEXITED(status))
        result.exit_status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    // Whatever the child left in its group (workers of a supervisor) goes too.
    kill(-pid, SIGKILL);
    return result;
}

} // namespace quillfen::testing
