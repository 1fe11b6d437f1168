#include <algorithm>
#include <cerrno>
#include <chrono>

#include <poll.h>
#include <unistd.h>

#include "wlclip/wlclip.hpp"

namespace wlclip {

std::expected<std::string, IoError> read_to_end(int fd, std::chrono::milliseconds idle_limit,
                                                std::chrono::milliseconds whole_limit) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + whole_limit;
    std::string bytes;
    char buffer[16384];
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= std::chrono::milliseconds::zero())
            return std::unexpected(IoError{ETIMEDOUT});
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, static_cast<int>(std::min(idle_limit, left).count()));
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
            return bytes;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace wlclip
