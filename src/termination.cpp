#include "termination.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <thread>

#include "log.hpp"
#include "util/errno_text.hpp"
#include "util/unique_fd.hpp"

namespace quillfen {

namespace {

std::atomic<bool> end_requested{false};
// An eventfd that becomes readable with the request; -1 while requests are not recorded.
std::atomic<int> request_fd{-1};

// Runs on whichever thread the signal meets: nothing but the two async-signal-safe steps.
void on_end_request(int) {
    const int saved = errno;
    end_requested = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(request_fd, &one, sizeof one);
    errno = saved;
}

timespec as_timespec(std::chrono::nanoseconds duration) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
    return timespec{.tv_sec = static_cast<time_t>(seconds.count()),
                    .tv_nsec = static_cast<long>((duration - seconds).count())};
}

} // namespace

void record_end_requests() {
    static const util::UniqueFd fd{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    if (!fd) {
        QF_ERROR("cannot wait for SIGTERM, so it ends the worker at once: {}",
                 util::errno_name(errno));
        return;
    }
    request_fd = fd.get();
    struct sigaction action {};
    action.sa_handler = on_end_request;
    // Reads and writes under way on other threads go on; the pause sees the request.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool pause_unless_asked_to_end(std::chrono::nanoseconds duration) {
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + duration;
    for (;;) {
        if (end_requested)
            return false;
        const auto left = until - Clock::now();
        if (left <= std::chrono::nanoseconds::zero())
            return true;
        if (request_fd < 0) {
            std::this_thread::sleep_for(left);
            return true;
        }
        pollfd request{request_fd, POLLIN, 0};
        const timespec wait = as_timespec(left);
        ::ppoll(&request, 1, &wait, nullptr);
    }
}

void pause_or_end(const ClipboardList& clipboards, std::chrono::nanoseconds duration) {
    if (!pause_unless_asked_to_end(duration))
        end_as_asked(clipboards);
}

void end_as_asked(const ClipboardList& clipboards) {
    const auto by = std::chrono::steady_clock::now() + ending_limit;
    // Every clipboard is asked before any is waited for: their transfers go on side by side.
    for (const auto& clipboard : clipboards)
        clipboard->finish_serving(by);
    CutTransfers cut;
    for (const auto& clipboard : clipboards) {
        const CutTransfers one = clipboard->wait_for_serving(by);
        cut.transfers += one.transfers;
        cut.missing_bytes += one.missing_bytes;
    }
    // An X11 transfer cut short lacks its closing chunk, which its requestor notices; a
    // Wayland reader sees the end of data just as after the whole text.
    if (cut.transfers > 0)
        QF_ERROR("ending the worker cut {} wayland transfer(s) short, missing {} bytes",
                 cut.transfers, cut.missing_bytes);

    std::signal(SIGTERM, SIG_DFL);
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
    ::raise(SIGTERM);
    _exit(128 + SIGTERM); // not reached: the signal ends the process
}

} // namespace quillfen
