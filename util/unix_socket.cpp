#include "util/unix_socket.hpp"

#include <fcntl.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <thread>

namespace util {

namespace {

constexpr std::chrono::milliseconds connect_retry{20};

// `offset` bytes of NUL, the name, and a terminating NUL when `terminated`.
std::optional<UnixAddress> make_address(std::string_view name, std::size_t offset,
                                        bool terminated) {
    UnixAddress result;
    result.address.sun_family = AF_UNIX;
    const std::size_t size = offset + name.size() + (terminated ? 1 : 0);
    if (size > sizeof result.address.sun_path)
        return std::nullopt;
    std::memcpy(result.address.sun_path + offset, name.data(), name.size());
    result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + size);
    return result;
}

} // namespace

std::optional<UnixAddress> UnixAddress::path(std::string_view path) {
    return make_address(path, 0, true);
}

std::optional<UnixAddress> UnixAddress::abstract(std::string_view name) {
    return make_address(name, 1, false);
}

std::expected<UniqueFd, ConnectFailure>
connect_unix(const UnixAddress& address, std::chrono::steady_clock::time_point deadline) {
    using Kind = ConnectFailure::Kind;
    UniqueFd fd{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
    if (!fd)
        return std::unexpected(ConnectFailure{Kind::socket, errno});
    while (::connect(fd.get(), address.get(), address.length) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return std::unexpected(ConnectFailure{Kind::refused, errno});
        if (std::chrono::steady_clock::now() >= deadline)
            return std::unexpected(ConnectFailure{Kind::timed_out, ETIMEDOUT});
        std::this_thread::sleep_for(connect_retry);
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) < 0)
        return std::unexpected(ConnectFailure{Kind::socket, errno});
    return fd;
}

} // namespace util
