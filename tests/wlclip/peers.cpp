#include "tests/wlclip/peers.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pthread.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

namespace quillfen::test {

void use_compositor(const HeadlessCompositor& compositor) {
    ::unsetenv("WAYLAND_SOCKET");
    ::setenv("XDG_RUNTIME_DIR", compositor.runtime_dir().c_str(), 1);
    ::setenv("WAYLAND_DISPLAY", compositor.socket_name().c_str(), 1);
}

namespace {

// A child that exits before reading all its input must not end the test through SIGPIPE;
// the signal is held on this thread for the call and dropped afterwards.
class SigpipeHeld {
  public:
    SigpipeHeld() {
        sigemptyset(&pipe_only_);
        sigaddset(&pipe_only_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_only_, &old_);
    }
    ~SigpipeHeld() {
        timespec now{};
        while (sigtimedwait(&pipe_only_, nullptr, &now) == SIGPIPE) {
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

  private:
    sigset_t pipe_only_, old_;
};

} // namespace

std::string run_shell(const std::string& command, const std::string& input) {
    SigpipeHeld held;
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) < 0 || ::pipe2(out, O_CLOEXEC) < 0)
        throw std::runtime_error("pipe");
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::fcntl(in[1], F_SETFL, O_NONBLOCK);
    std::string output;
    std::size_t written = 0;
    if (input.empty()) {
        ::close(in[1]);
        in[1] = -1;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (out[0] >= 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd fds[2] = {{out[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
        if (::poll(fds, 2, 100) < 0 && errno != EINTR)
            break;
        if (fds[1].revents) {
            ssize_t n = ::write(in[1], input.data() + written, input.size() - written);
            if (n > 0)
                written += static_cast<std::size_t>(n);
            if (n < 0 || written == input.size()) {
                ::close(in[1]);
                in[1] = -1;
            }
        }
        if (fds[0].revents) {
            char buffer[4096];
            ssize_t n = ::read(out[0], buffer, sizeof buffer);
            if (n > 0) {
                output.append(buffer, static_cast<std::size_t>(n));
            } else {
                ::close(out[0]);
                out[0] = -1;
            }
        }
    }
    if (in[1] >= 0)
        ::close(in[1]);
    if (out[0] >= 0) {
        ::close(out[0]);
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("`" + command + "` failed with status " + std::to_string(status));
    return output;
}

void wl_copy(const std::string& bytes, const std::string& args) {
    // Its serving process must not keep our output pipe open.
    run_shell("wl-copy " + args + " >/dev/null 2>&1", bytes);
}

std::string wl_paste(const std::string& args) {
    return run_shell("wl-paste -n " + args);
}

} // namespace quillfen::test
