#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "util/bounded_bytes.hpp"
#include "util/poll_timeout.hpp"
#include "wlclip/wlclip.hpp"

namespace wlclip {

std::expected<std::string, IoError> read_to_end(int fd, std::chrono::milliseconds idle_limit,
                                                std::chrono::milliseconds whole_limit,
                                                std::size_t size_limit) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + whole_limit;
    util::BoundedBytes bytes(size_limit);
    char buffer[16384];
    for (;;) {
        const int left = util::poll_timeout(deadline);
        if (left == 0)
            return std::unexpected(IoError{ETIMEDOUT});
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, std::min(static_cast<int>(idle_limit.count()), left));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return std::unexpected(IoError{errno});
        }
        if (ready == 0)
            return std::unexpected(IoError{ETIMEDOUT});
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::unexpected(IoError{errno});
        }
        if (n == 0)
            return bytes.take();
        if (!bytes.append({buffer, static_cast<std::size_t>(n)}))
            return std::unexpected(IoError{EFBIG});
    }
}

} // namespace wlclip
