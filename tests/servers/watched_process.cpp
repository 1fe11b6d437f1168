#include "tests/servers/watched_process.hpp"

#include <fcntl.h>
#include <grp.h>
#include <linux/close_range.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace quillfen::test {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// A reader that went away must not end the test through SIGPIPE; the signal is held on this
// thread for the write and dropped afterwards (the test process keeps its own disposition).
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
    SigpipeHeld(const SigpipeHeld&) = delete;
    SigpipeHeld& operator=(const SigpipeHeld&) = delete;

  private:
    sigset_t pipe_only_, old_;
};

} // namespace

OwnedPipe make_pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        fail("pipe2");
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

WatchedProcess::WatchedProcess(const std::vector<std::string>& argv, const WatchOptions& options) {
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (const auto& entry : options.environment)
        env.push_back(const_cast<char*>(entry.c_str()));
    env.push_back(nullptr);
    start(
        [&] {
            // Nothing of ours beyond the standard streams reaches the program.
            close_range(3, ~0U, 0);
            if (options.only_environment)
                execvpe(args[0], args.data(), env.data());
            else
                execvp(args[0], args.data());
            _exit(127);
        },
        options);
}

WatchedProcess::WatchedProcess(const std::function<int()>& body, const WatchOptions& options) {
    start([&] { _exit(body()); }, options);
}

void WatchedProcess::start(const std::function<void()>& run, const WatchOptions& options) {
    OwnedPipe in, out, err;
    if (options.input) {
        in = make_pipe();
        input_ = *options.input;
    }
    if (options.stdout_fd == -1 && options.stdout_mode != WatchOptions::Stdout::closed &&
        options.stdout_mode != WatchOptions::Stdout::discarded)
        out = make_pipe();
    if (options.stdout_mode == WatchOptions::Stdout::broken_pipe)
        out.read.reset(); // no reader from the very first line on
    if (options.stderr_fd == -1 && !options.discard_stderr)
        err = make_pipe();
    UniqueFd null;
    if (options.stdout_mode == WatchOptions::Stdout::discarded || options.discard_stderr) {
        null = UniqueFd(::open("/dev/null", O_WRONLY | O_CLOEXEC));
        if (!null)
            fail("/dev/null");
    }
    UniqueFd log;
    if (!options.log_file.empty()) {
        log = UniqueFd(
            ::open(options.log_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (!log)
            fail(options.log_file.c_str());
    }
    const pid_t parent = ::getpid();
    leave_descendants_ = options.leave_descendants;

    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ < 0)
        fail("fork");
    if (pid_ == 0) {
        setpgid(0, 0);
        if (options.default_sigpipe)
            std::signal(SIGPIPE, SIG_DFL);
        if (!options.only_environment)
            for (const auto& entry : options.environment)
                putenv(const_cast<char*>(entry.c_str()));
        if (in.read)
            dup2(in.read.get(), STDIN_FILENO);
        dup2(options.discard_stderr    ? null.get()
             : options.stderr_fd == -1 ? err.write.get()
                                       : options.stderr_fd,
             STDERR_FILENO);
        switch (options.stdout_mode) {
        case WatchOptions::Stdout::pipe:
            dup2(out.write.get(), STDOUT_FILENO);
            break;
        case WatchOptions::Stdout::closed:
            close(STDOUT_FILENO);
            break;
        case WatchOptions::Stdout::broken_pipe:
            dup2(out.write.get(), STDOUT_FILENO);
            break;
        case WatchOptions::Stdout::discarded:
            dup2(null.get(), STDOUT_FILENO);
            break;
        }
        if (options.stdout_fd != -1)
            dup2(options.stdout_fd, STDOUT_FILENO);
        if (log) {
            dup2(log.get(), STDOUT_FILENO);
            dup2(log.get(), STDERR_FILENO);
        }
        if (options.user && (setgroups(0, nullptr) != 0 || setgid(options.user->second) != 0 ||
                             setuid(options.user->first) != 0))
            _exit(126);
        if (!options.directory.empty() && chdir(options.directory.c_str()) != 0)
            _exit(126);
        // Armed after setuid, which clears it; a parent that is gone already is not waited for.
        if (options.death_signal != 0 &&
            (prctl(PR_SET_PDEATHSIG, options.death_signal) != 0 || getppid() != parent))
            _exit(126);
        run();
        _exit(127);
    }
    setpgid(pid_, pid_);
    out_fd_ = std::move(out.read);
    err_fd_ = std::move(err.read);
    in_fd_ = std::move(in.write);
    if (in_fd_) {
        ::fcntl(in_fd_.get(), F_SETFL, O_NONBLOCK);
        feed();
    }
}

WatchedProcess::~WatchedProcess() {
    if (leave_descendants_) {
        if (!status_) {
            ::kill(pid_, SIGKILL);
            reap(true);
        }
        return;
    }
    kill_group();
    if (!status_)
        reap(true);
    // The rest of the group was killed too, but may still be ending (freeing its memory, say)
    // or waiting to be reaped by its new parent.
    const auto deadline = Clock::now() + 5s;
    while (::kill(-pid_, 0) == 0 && Clock::now() < deadline) {
        while (::waitpid(-pid_, nullptr, WNOHANG) > 0) { // ours when we are their subreaper
        }
        std::this_thread::sleep_for(5ms);
    }
}

void WatchedProcess::feed() {
    if (!in_fd_)
        return;
    SigpipeHeld held;
    while (fed_ < input_.size()) {
        const ssize_t n = ::write(in_fd_.get(), input_.data() + fed_, input_.size() - fed_);
        if (n > 0)
            fed_ += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else if (n < 0 && errno == EAGAIN)
            return;
        else
            break; // the reader has gone
    }
    in_fd_.reset();
}

void WatchedProcess::collect(int timeout_ms) {
    std::array<pollfd, 3> fds{pollfd{out_fd_.get(), POLLIN, 0}, pollfd{err_fd_.get(), POLLIN, 0},
                              pollfd{in_fd_.get(), POLLOUT, 0}};
    std::array<std::string*, 2> sinks{&out_, &err_};
    std::array<UniqueFd*, 2> owners{&out_fd_, &err_fd_};
    if (!out_fd_ && !err_fd_ && !in_fd_) {
        poll(nullptr, 0, timeout_ms);
        return;
    }
    if (poll(fds.data(), fds.size(), timeout_ms) <= 0)
        return;
    if (fds[2].revents != 0)
        feed();
    for (std::size_t i = 0; i < sinks.size(); ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0)
            continue;
        char buffer[4096];
        const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
        if (got > 0)
            sinks[i]->append(buffer, static_cast<std::size_t>(got));
        else if (got == 0 || errno != EINTR)
            owners[i]->reset();
    }
}

bool WatchedProcess::reap(bool block) {
    int raw = 0;
    pid_t got;
    while ((got = waitpid(pid_, &raw, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
    }
    if (got == pid_) {
        status_ = raw;
        return true;
    }
    return false;
}

bool WatchedProcess::wait_until(const std::function<bool()>& done,
                                std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
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
    if (!ended)
        return std::nullopt;
    // The rest of the output; descendants that still hold the pipes are not waited for long.
    wait_until([&] { return output_ended(); }, 500ms);
    return status_;
}

void WatchedProcess::signal(int number) const {
    if (!status_)
        ::kill(pid_, number);
}

void WatchedProcess::kill_group() const {
    ::kill(-pid_, SIGKILL);
}

bool RunResult::succeeded() const {
    return !timed_out && exit_status == 0;
}

void RunResult::set_end(std::optional<int> status) {
    if (status && WIFEXITED(*status))
        exit_status = WEXITSTATUS(*status);
    else if (status && WIFSIGNALED(*status))
        signal = WTERMSIG(*status);
}

RunResult run(const std::vector<std::string>& argv, const WatchOptions& options,
              std::chrono::milliseconds limit) {
    WatchedProcess process(argv, options);
    RunResult result;
    auto status = process.wait_exit(limit);
    if (!status) {
        result.timed_out = true;
        process.kill_group();
        status = process.wait_exit(5s);
    }
    result.set_end(status);
    result.out = process.out();
    result.err = process.err();
    return result;
}

std::size_t count_of(std::string_view haystack, std::string_view needle) {
    std::size_t count = 0;
    for (auto at = haystack.find(needle); at != std::string_view::npos;
         at = haystack.find(needle, at + needle.size()))
        ++count;
    return count;
}

} // namespace quillfen::test
