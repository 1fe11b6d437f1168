#include "x11clip/display_socket.hpp"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "util/peer_user.hpp"
#include "x11clip/causes.hpp"

namespace x11clip {

namespace {

using Clock = std::chrono::steady_clock;

enum class Outcome { connected, refused, timed_out };

// A server that stopped accepting leaves a blocking connect() hanging once its listen queue is
// full; a non-blocking one says so at once, and we retry until the deadline.
Outcome connect_bounded(int fd, const sockaddr_un& address, socklen_t length,
                        Clock::time_point deadline) {
    while (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return Outcome::refused;
        if (Clock::now() >= deadline)
            return Outcome::timed_out;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return Outcome::connected;
}

} // namespace

std::expected<util::UniqueFd, ClipboardError>
connect_display_socket(int number, std::chrono::milliseconds limit) {
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    const auto deadline = Clock::now() + limit;
    bool foreign = false;
    for (const bool abstract : {true, false}) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        // The abstract name is the path behind a leading NUL byte, without a terminating one.
        const std::size_t offset = abstract ? 1 : 0;
        std::memcpy(address.sun_path + offset, path.data(), path.size());
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                                   path.size() + (abstract ? 0 : 1));
        util::UniqueFd fd{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
        if (!fd)
            return std::unexpected(connection_error(XCB_CONN_ERROR));
        if (connect_bounded(fd.get(), address, length, deadline) != Outcome::connected)
            continue;
        if (!util::trusted_peer(fd.get())) {
            foreign = true;
            continue;
        }
        const int flags = ::fcntl(fd.get(), F_GETFL);
        if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) < 0)
            return std::unexpected(connection_error(XCB_CONN_ERROR));
        return fd;
    }
    return std::unexpected(foreign ? served_by_another_user() : connection_error(XCB_CONN_ERROR));
}

} // namespace x11clip
