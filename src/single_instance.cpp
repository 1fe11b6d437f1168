#include "single_instance.hpp"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fmt/format.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "fatal.hpp"
#include "util/errno_text.hpp"

namespace quillfen {

util::UniqueFd claim_single_instance() {
    const uid_t uid = geteuid();
    util::UniqueFd socket_fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket_fd)
        fatal(fmt::format("Failed to claim this user's service name: {}", util::errno_name(errno)));

    // An abstract address: a leading NUL byte, then the name, without a terminator.
    const std::string name = fmt::format("quillfen-{}", uid);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (bind(socket_fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        if (errno == EADDRINUSE)
            fatal(fmt::format("quillfen is already running for user {}; not starting another one",
                              uid));
        fatal(fmt::format("Failed to claim this user's service name: {}", util::errno_name(errno)));
    }
    return socket_fd;
}

} // namespace quillfen
