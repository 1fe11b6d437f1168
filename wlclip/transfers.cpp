#include "wlclip/transfers.hpp"

#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>

#include "util/poll_timeout.hpp"

namespace wlclip {

namespace {

// A reader that went away makes write() raise SIGPIPE; the serving thread blocks it, so
// the signal stays pending on the thread until it is taken here.
void discard_pending_sigpipe() {
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    timespec now{};
    while (sigtimedwait(&pipe_only, nullptr, &now) == SIGPIPE) {
    }
}

} // namespace

void Transfers::add(util::UniqueFd write_end) {
    struct stat st {};
    if (::fstat(write_end.get(), &st) < 0)
        return; // not a descriptor we can serve; dropping it ends the reader's wait
    // Its flags are the requester's too, so it stays blocking: a pipe or socket that polls
    // writable takes PIPE_BUF bytes at once, a file any write.
    const bool storage = S_ISREG(st.st_mode) || S_ISBLK(st.st_mode);
    Pending p{std::move(write_end), storage ? bytes_->size() : std::size_t{PIPE_BUF}};
    if (write_some(p))
        pending_.push_back(std::move(p));
}

void Transfers::append_pollfds(std::vector<pollfd>& fds) const {
    for (const Pending& p : pending_)
        fds.push_back({p.fd.get(), POLLOUT, 0});
}

void Transfers::service(const pollfd* fds) {
    std::vector<Pending> still;
    still.reserve(pending_.size());
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        Pending& p = pending_[i];
        bool go_on = true;
        if (fds[i].revents & (POLLOUT | POLLERR | POLLHUP | POLLNVAL))
            go_on = write_some(p);
        if (go_on)
            still.push_back(std::move(p));
    }
    pending_ = std::move(still);
}

Unfinished Transfers::finish(std::chrono::milliseconds idle_limit,
                             const std::function<Clock::time_point()>& end_by, int wake_fd) {
    // The limit counts from now: a reader that paused while the selection was ours has
    // not yet been told that its transfer must move.
    for (Pending& p : pending_)
        p.progressed = Clock::now();
    Unfinished cut;
    const auto give_up = [&](const Pending& p) {
        ++cut.transfers;
        cut.missing_bytes += bytes_->size() - p.written;
        return true;
    };
    std::vector<pollfd> fds;
    while (!pending_.empty()) {
        const auto now = Clock::now();
        const auto last = end_by ? end_by() : Clock::time_point::max();
        if (now >= last) {
            std::erase_if(pending_, give_up);
            break;
        }
        std::erase_if(pending_, [&](const Pending& p) {
            return now - p.progressed >= idle_limit && give_up(p);
        });
        if (pending_.empty())
            break;
        const auto oldest =
            std::ranges::min_element(pending_, {}, &Pending::progressed)->progressed;
        const int wait = util::poll_timeout(std::min(oldest + idle_limit, last));
        fds.clear();
        append_pollfds(fds);
        // A time to end that comes meanwhile wakes the wait.
        fds.push_back({wake_fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), wait) < 0) {
            if (errno == EINTR)
                continue;
            std::erase_if(pending_, give_up);
            break;
        }
        if (fds.back().revents & POLLIN) {
            eventfd_t ignored = 0;
            ::eventfd_read(wake_fd, &ignored);
        }
        service(fds.data());
    }
    return cut;
}

bool Transfers::write_some(Pending& p) {
    const std::string& bytes = *bytes_;
    while (p.written < bytes.size()) {
        pollfd room{p.fd.get(), POLLOUT, 0};
        const int ready = ::poll(&room, 1, 0);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (room.revents & POLLNVAL))
            return false;
        if (ready == 0)
            return true; // no room yet
        // Room, or an error that the write reports without waiting.
        const std::size_t size = std::min(p.chunk, bytes.size() - p.written);
        ssize_t n = ::write(p.fd.get(), bytes.data() + p.written, size);
        if (n > 0) {
            p.written += static_cast<std::size_t>(n);
            p.progressed = Clock::now();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true; // the requester made it non-blocking itself
        if (n < 0 && errno == EPIPE)
            discard_pending_sigpipe();
        return false;
    }
    return false; // all written: closing the write end is the reader's end of data
}

} // namespace wlclip
