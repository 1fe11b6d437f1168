#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "util/bounded_bytes.hpp"
#include "util/poll_timeout.hpp"
#include "wlclip/connection.hpp"
#include "wlclip/wlclip.hpp"

namespace wlclip {

namespace {

enum class Drained { more, end };

// Reads what `fd` holds now, and waits for nothing more.
std::expected<Drained, IoError> drain(int fd, util::BoundedBytes& bytes) {
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::unexpected(IoError{errno});
        }
        if (n == 0)
            return Drained::end;
        if (!bytes.append({buffer, static_cast<std::size_t>(n)}))
            return std::unexpected(IoError{EFBIG});
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0)
            return Drained::more;
    }
}

} // namespace

std::expected<std::string, IoError> read_to_end(int fd, std::chrono::milliseconds idle_limit,
                                                std::chrono::milliseconds whole_limit,
                                                std::size_t size_limit, Connection* followed) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + whole_limit;
    util::BoundedBytes bytes(size_limit);
    // Events read before the transfer began come before its end.
    if (followed && !followed->dispatch_queued())
        followed = nullptr;
    // Events of the followed connection are no data: they do not put off the idle limit.
    auto idle_until = Clock::now() + idle_limit;
    for (;;) {
        const int left = util::poll_timeout(std::min(deadline, idle_until));
        if (left == 0)
            return std::unexpected(IoError{ETIMEDOUT});
        pollfd fds[2] = {{fd, POLLIN, 0}, {followed ? followed->fd() : -1, POLLIN, 0}};
        if (::poll(fds, followed ? 2 : 1, left) < 0) {
            if (errno == EINTR)
                continue;
            return std::unexpected(IoError{errno});
        }
        if (fds[0].revents) {
            auto drained = drain(fd, bytes);
            if (!drained)
                return std::unexpected(drained.error());
            if (*drained == Drained::end)
                return bytes.take();
            idle_until = Clock::now() + idle_limit;
        }
        if (followed && fds[1].revents && !followed->dispatch_available())
            followed = nullptr;
    }
}

} // namespace wlclip
