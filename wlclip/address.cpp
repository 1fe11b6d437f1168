#include "wlclip/address.hpp"

#include <fcntl.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace wlclip {

namespace {

Address inherited_socket(const char* text) {
    int fd = -1;
    const char* end = text + std::strlen(text);
    auto [ptr, ec] = std::from_chars(text, end, fd);
    ::unsetenv("WAYLAND_SOCKET");
    if (ec != std::errc{} || ptr != end || fd < 0)
        return Address::descriptor(util::UniqueFd());
    int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0 || ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC) < 0)
        return Address::descriptor(util::UniqueFd());
    return Address::descriptor(util::UniqueFd(fd));
}

} // namespace

Address Address::socket(std::string path) {
    return Address(Where{std::move(path)});
}

Address Address::in_runtime_dir(const char* runtime_dir, std::string_view name) {
    if (!runtime_dir)
        return Address(Where{ConnectError::XdgRuntimeDirNotSet});
    return socket(std::string(runtime_dir) + "/" + std::string(name));
}

Address Address::descriptor(util::UniqueFd fd) {
    if (!fd)
        return Address(Where{ConnectError::InvalidFd});
    return Address(Where{std::move(fd)});
}

Address Address::from_environment() {
    if (const char* socket = std::getenv("WAYLAND_SOCKET"))
        return inherited_socket(socket);
    const char* name = std::getenv("WAYLAND_DISPLAY");
    return in_runtime_dir(std::getenv("XDG_RUNTIME_DIR"), name ? name : "wayland-0");
}

std::expected<Endpoint, ConnectError> Address::take() {
    if (const auto* failed = std::get_if<ConnectError>(&where_))
        return std::unexpected(*failed);
    if (const auto* path = std::get_if<std::string>(&where_))
        return Endpoint{*path};
    Endpoint taken{std::move(std::get<util::UniqueFd>(where_))};
    where_ = ConnectError::InvalidFd;
    return taken;
}

} // namespace wlclip
