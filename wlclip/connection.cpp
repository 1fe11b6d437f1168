#include "wlclip/connection.hpp"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "util/peer_user.hpp"

namespace wlclip {

namespace {

using Clock = std::chrono::steady_clock;

std::expected<Address, ConnectError> inherited_socket(const char* text) {
    int fd = -1;
    const char* end = text + std::strlen(text);
    auto [ptr, ec] = std::from_chars(text, end, fd);
    ::unsetenv("WAYLAND_SOCKET");
    if (ec != std::errc{} || ptr != end || fd < 0)
        return std::unexpected(ConnectError::InvalidFd);
    int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0 || ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC) < 0)
        return std::unexpected(ConnectError::InvalidFd);
    return Address{util::UniqueFd(fd)};
}

int remaining_ms(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// A compositor that stopped accepting leaves connect() blocked for good once its listen
// queue is full; a non-blocking connect says so at once, and we retry until the limit.
std::expected<util::UniqueFd, SetupFailure> connect_path(const std::string& path,
                                                         std::chrono::milliseconds limit) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return std::unexpected(ConnectError::InvalidName);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);

    util::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd)
        return std::unexpected(IoError{errno});
    auto deadline = Clock::now() + limit;
    while (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return std::unexpected(ConnectError::NoCompositorListening);
        if (Clock::now() >= deadline)
            return std::unexpected(IoError{ETIMEDOUT});
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) < 0)
        return std::unexpected(IoError{errno});
    return fd;
}

} // namespace

std::expected<Address, ConnectError> resolve_address() {
    if (const char* socket = std::getenv("WAYLAND_SOCKET"))
        return inherited_socket(socket);
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    if (!dir)
        return std::unexpected(ConnectError::XdgRuntimeDirNotSet);
    const char* name = std::getenv("WAYLAND_DISPLAY");
    return Address{std::string(dir) + "/" + (name ? name : "wayland-0")};
}

std::expected<Connection, SetupFailure> Connection::open(Address address,
                                                         std::chrono::milliseconds limit) {
    util::UniqueFd fd;
    if (auto* path = std::get_if<std::string>(&address)) {
        auto connected = connect_path(*path, limit);
        if (!connected)
            return std::unexpected(connected.error());
        fd = std::move(*connected);
    } else {
        fd = std::move(std::get<util::UniqueFd>(address));
    }
    // Checked before the handshake: another user's compositor gets no request from us.
    if (!util::trusted_peer(fd.get()))
        return std::unexpected(ConnectError::ForeignCompositor);
    // The display takes the descriptor, and closes it when it cannot be made.
    wl_display* display = wl_display_connect_to_fd(fd.release());
    if (!display)
        return std::unexpected(IoError{errno ? errno : ENOMEM});
    return Connection(display);
}

int Connection::fd() const noexcept {
    return wl_display_get_fd(display_.get());
}

IoError Connection::error() const noexcept {
    int code = wl_display_get_error(display_.get());
    return IoError{code ? code : EPIPE};
}

std::expected<void, IoError> Connection::roundtrip(std::chrono::milliseconds limit, int stop_fd) {
    wl_display* d = display_.get();
    bool done = false;
    static const wl_callback_listener listener = {
        .done = [](void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; },
    };
    Owned<wl_callback> callback(wl_display_sync(d));
    if (!callback)
        return std::unexpected(error());
    wl_callback_add_listener(callback.get(), &listener, &done);

    auto deadline = Clock::now() + limit;
    for (;;) {
        if (wl_display_dispatch_pending(d) < 0)
            return std::unexpected(error());
        if (done)
            return {};
        if (wl_display_prepare_read(d) != 0)
            continue; // events arrived meanwhile: dispatch them first
        short events = POLLIN;
        if (wl_display_flush(d) < 0) {
            if (errno != EAGAIN) {
                wl_display_cancel_read(d);
                return std::unexpected(error());
            }
            events |= POLLOUT;
        }
        pollfd fds[2] = {{fd(), events, 0}, {stop_fd, POLLIN, 0}};
        int ready = ::poll(fds, stop_fd >= 0 ? 2 : 1, remaining_ms(deadline));
        if (ready <= 0 || !(fds[0].revents & (POLLIN | POLLERR | POLLHUP))) {
            wl_display_cancel_read(d);
            if (ready < 0 && errno != EINTR)
                return std::unexpected(IoError{errno});
            if (stop_fd >= 0 && (fds[1].revents & POLLIN))
                return std::unexpected(IoError{ECANCELED});
            if (Clock::now() >= deadline)
                return std::unexpected(IoError{ETIMEDOUT});
            continue;
        }
        if (wl_display_read_events(d) < 0)
            return std::unexpected(error());
    }
}

} // namespace wlclip
