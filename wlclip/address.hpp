// Where a compositor is: resolved once, then used for every connection to it.
#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include "util/unique_fd.hpp"
#include "wlclip/error.hpp"

namespace wlclip {

// What a connection is made from: the path of the compositor's socket, or a descriptor already
// connected to it.
using Endpoint = std::variant<std::string, util::UniqueFd>;

class Address {
  public:
    // The socket at `path`.
    static Address socket(std::string path);
    // The socket `name` in `runtime_dir`; a null `runtime_dir` (XDG_RUNTIME_DIR unset) gives an
    // address whose every use fails with XdgRuntimeDirNotSet.
    static Address in_runtime_dir(const char* runtime_dir, std::string_view name);
    // A connected descriptor: the first connection takes it, every later use fails with
    // InvalidFd.
    static Address descriptor(util::UniqueFd fd);
    // WAYLAND_SOCKET (removed from the environment; InvalidFd at use when it names no
    // descriptor), else the socket WAYLAND_DISPLAY (default "wayland-0") names in
    // XDG_RUNTIME_DIR. Touches the environment, so call it on the thread that sets it.
    static Address from_environment();

    // The socket's path; none for a descriptor or an address that could not be resolved.
    const std::string* socket_path() const noexcept { return std::get_if<std::string>(&where_); }

    // For one connection: the path, or the descriptor, which is handed out once.
    std::expected<Endpoint, ConnectError> take();

  private:
    using Where = std::variant<std::string, util::UniqueFd, ConnectError>;
    explicit Address(Where where) : where_(std::move(where)) {}
    Where where_;
};

} // namespace wlclip
