#include "x11clip/deadline.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <utility>

namespace x11clip {

namespace {

// The descriptor this thread's armed deadline shuts down; read by the signal handler.
thread_local volatile sig_atomic_t watched_fd = -1;
// Where the armed deadline notes that it fired; read by the signal handler.
thread_local volatile sig_atomic_t* fired_flag = nullptr;

int deadline_signal() {
    return SIGRTMIN + 7;
}

void on_deadline(int) {
    const int saved = errno;
    if (const int fd = watched_fd; fd >= 0) {
        ::shutdown(fd, SHUT_RDWR);
        if (volatile sig_atomic_t* fired = fired_flag)
            *fired = 1;
    }
    errno = saved;
}

void install_handler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = on_deadline;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        ::sigaction(deadline_signal(), &action, nullptr);
    });
}

// One timer per thread, made at its first deadline and deleted when the thread ends. A child
// of fork() inherits no timer, so it makes its own.
class ThreadTimer {
  public:
    ~ThreadTimer() {
        if (owner_ == ::getpid())
            ::timer_delete(id_);
    }

    bool set(std::chrono::milliseconds limit) {
        if (owner_ != ::getpid()) {
            sigevent event{};
            event.sigev_notify = SIGEV_THREAD_ID;
            event.sigev_signo = deadline_signal();
            event._sigev_un._tid = ::gettid();
            if (::timer_create(CLOCK_MONOTONIC, &event, &id_) != 0)
                return false;
            owner_ = ::getpid();
        }
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit);
        const auto nanoseconds =
            std::chrono::duration_cast<std::chrono::nanoseconds>(limit - seconds);
        itimerspec value{};
        value.it_value.tv_sec = seconds.count();
        value.it_value.tv_nsec = nanoseconds.count();
        return ::timer_settime(id_, 0, &value, nullptr) == 0;
    }

    void clear() {
        const itimerspec zero{};
        ::timer_settime(id_, 0, &zero, nullptr);
    }

  private:
    timer_t id_{};
    pid_t owner_ = 0;
};

thread_local ThreadTimer timer;

} // namespace

Deadline::Deadline(int fd, std::chrono::milliseconds limit, volatile std::sig_atomic_t* fired) {
    if (fd < 0 || watched_fd >= 0)
        return;
    util::UniqueFd duplicate{::fcntl(fd, F_DUPFD_CLOEXEC, 0)};
    if (!duplicate)
        return;
    install_handler();
    fired_flag = fired;
    watched_fd = duplicate.get();
    if (!timer.set(limit)) {
        watched_fd = -1;
        return;
    }
    watched_ = std::move(duplicate);
}

Deadline::~Deadline() {
    if (!watched_)
        return;
    // The timer first, the duplicate last: a signal that still arrives in between finds it
    // open, and one that arrives later finds nothing to shut down.
    timer.clear();
    watched_fd = -1;
    fired_flag = nullptr;
}

} // namespace x11clip
