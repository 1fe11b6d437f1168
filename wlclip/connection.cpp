#include "wlclip/connection.hpp"

#include <poll.h>

#include <cerrno>

#include "util/peer_user.hpp"
#include "util/poll_timeout.hpp"
#include "util/unix_socket.hpp"

namespace wlclip {

namespace {

std::expected<util::UniqueFd, SetupFailure> connect_path(const std::string& path,
                                                         std::chrono::milliseconds limit) {
    const auto address = util::UnixAddress::path(path);
    if (!address)
        return std::unexpected(ConnectError::InvalidName);
    auto connected = util::connect_unix(*address, Connection::Clock::now() + limit);
    if (connected)
        return std::move(*connected);
    switch (connected.error().kind) {
    case util::ConnectFailure::Kind::refused:
        return std::unexpected(ConnectError::NoCompositorListening);
    case util::ConnectFailure::Kind::timed_out:
        return std::unexpected(IoError{ETIMEDOUT});
    case util::ConnectFailure::Kind::socket:
        break;
    }
    return std::unexpected(IoError{connected.error().code});
}

} // namespace

std::expected<Connection, SetupFailure> Connection::open(Endpoint endpoint,
                                                         std::chrono::milliseconds limit) {
    util::UniqueFd fd;
    if (auto* path = std::get_if<std::string>(&endpoint)) {
        auto connected = connect_path(*path, limit);
        if (!connected)
            return std::unexpected(connected.error());
        fd = std::move(*connected);
    } else {
        fd = std::move(std::get<util::UniqueFd>(endpoint));
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

bool Connection::failed() const noexcept {
    return wl_display_get_error(display_.get()) != 0;
}

IoError Connection::error() const noexcept {
    int code = wl_display_get_error(display_.get());
    return IoError{code ? code : EPIPE};
}

std::expected<void, IoError> Connection::dispatch_until(const std::function<bool()>& done,
                                                        Clock::time_point deadline,
                                                        const Watched& watched) {
    wl_display* d = display_.get();
    std::vector<pollfd> fds;
    for (;;) {
        if (wl_display_dispatch_pending(d) < 0)
            return std::unexpected(error());
        if (done())
            return {};
        // Checked on every pass: a compositor that never stops sending would otherwise hold
        // the loop past its deadline.
        if (Clock::now() >= deadline)
            return std::unexpected(IoError{ETIMEDOUT});
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
        fds.clear();
        fds.push_back({fd(), events, 0});
        if (watched.add)
            watched.add(fds);
        if (::poll(fds.data(), fds.size(), util::poll_timeout(deadline)) < 0) {
            wl_display_cancel_read(d);
            if (errno == EINTR)
                continue;
            return std::unexpected(IoError{errno});
        }
        const bool readable = fds[0].revents & (POLLIN | POLLERR | POLLHUP);
        if (readable) {
            if (wl_display_read_events(d) < 0)
                return std::unexpected(error());
        } else {
            wl_display_cancel_read(d);
        }
        if (watched.woken)
            if (auto go_on = watched.woken(std::span(fds).subspan(1)); !go_on)
                return go_on;
    }
}

bool Connection::dispatch_queued() {
    return wl_display_dispatch_pending(display_.get()) >= 0;
}

bool Connection::dispatch_available() {
    wl_display* d = display_.get();
    while (wl_display_prepare_read(d) != 0)
        if (wl_display_dispatch_pending(d) < 0)
            return false;
    if (wl_display_flush(d) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(d);
        return false;
    }
    pollfd p{fd(), POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLERR | POLLHUP))) {
        if (wl_display_read_events(d) < 0)
            return false;
    } else {
        wl_display_cancel_read(d);
    }
    return wl_display_dispatch_pending(d) >= 0;
}

std::expected<void, IoError> Connection::roundtrip(std::chrono::milliseconds limit, int stop_fd) {
    bool done = false;
    static const wl_callback_listener listener = {
        .done = [](void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; },
    };
    Owned<wl_callback> callback(wl_display_sync(display_.get()));
    if (!callback)
        return std::unexpected(error());
    wl_callback_add_listener(callback.get(), &listener, &done);

    Watched stop;
    if (stop_fd >= 0)
        stop = Watched{
            .add =
                [stop_fd](std::vector<pollfd>& fds) {
                    fds.push_back({stop_fd, POLLIN, 0});
                },
            .woken = [](std::span<const pollfd> fds) -> std::expected<void, IoError> {
                if (fds[0].revents & POLLIN)
                    return std::unexpected(IoError{ECANCELED});
                return {};
            },
        };
    return dispatch_until([&] { return done; }, Clock::now() + limit, stop);
}

} // namespace wlclip
