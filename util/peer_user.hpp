// Whose process serves a connected unix socket, and whether the clipboard may go there.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <optional>

namespace util {

// The credentials of the process at the other end, as of its listen() or connect(); works for
// abstract and path sockets alike.
inline std::optional<ucred> peer_credentials(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return std::nullopt;
    return credentials;
}

inline std::optional<uid_t> peer_user(int fd) {
    const auto credentials = peer_credentials(fd);
    return credentials ? std::optional(credentials->uid) : std::nullopt;
}

// Any account can listen on a free display number; only our own user's and root's servers get
// our text. Root can open every display anyway, so running as root trusts them all.
inline bool trusted_user(uid_t peer, uid_t self) {
    return self == 0 || peer == self || peer == 0;
}

inline bool trusted_peer(int fd) {
    const auto peer = peer_user(fd);
    return peer && trusted_user(*peer, ::geteuid());
}

} // namespace util
