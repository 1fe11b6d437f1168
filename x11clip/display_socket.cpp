#include "x11clip/display_socket.hpp"

#include <optional>
#include <string>

#include "util/peer_user.hpp"
#include "util/unix_socket.hpp"
#include "x11clip/causes.hpp"

namespace x11clip {

std::expected<util::UniqueFd, ClipboardError>
connect_display_socket(int number, std::chrono::milliseconds limit) {
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool foreign = false;
    for (const auto& address : {util::UnixAddress::abstract(path), util::UnixAddress::path(path)}) {
        if (!address)
            continue;
        auto fd = util::connect_unix(*address, deadline);
        if (!fd) {
            if (fd.error().kind == util::ConnectFailure::Kind::socket)
                return std::unexpected(connection_error(XCB_CONN_ERROR));
            continue;
        }
        if (!util::trusted_peer(fd->get())) {
            foreign = true;
            continue;
        }
        return std::move(*fd);
    }
    if (foreign)
        return std::unexpected(ClipboardError{.kind = ClipboardError::Kind::another_user});
    return std::unexpected(connection_error(XCB_CONN_ERROR));
}

} // namespace x11clip
