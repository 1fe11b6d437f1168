#include "wlclip/transfers.hpp"

#include <cerrno>
#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

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

void Transfers::add(UniqueFd write_end) {
    int flags = ::fcntl(write_end.get(), F_GETFL);
    if (flags < 0 || ::fcntl(write_end.get(), F_SETFL, flags | O_NONBLOCK) < 0)
        return; // not a descriptor we can serve; dropping it ends the reader's wait
    Pending p{std::move(write_end)};
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

bool Transfers::write_some(Pending& p) {
    const std::string& bytes = *bytes_;
    while (p.written < bytes.size()) {
        ssize_t n = ::write(p.fd.get(), bytes.data() + p.written, bytes.size() - p.written);
        if (n > 0) {
            p.written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        if (n < 0 && errno == EPIPE)
            discard_pending_sigpipe();
        return false;
    }
    return false; // all written: closing the write end is the reader's end of data
}

} // namespace wlclip
