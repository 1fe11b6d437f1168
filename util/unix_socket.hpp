// Unix stream sockets: their addresses, and a connect that cannot hang.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <expected>
#include <optional>
#include <string_view>

#include "util/unique_fd.hpp"

namespace util {

struct UnixAddress {
    sockaddr_un address{};
    socklen_t length = 0;

    // A socket file; none when the path does not fit.
    static std::optional<UnixAddress> path(std::string_view path);
    // An abstract name: no file, the name follows a leading NUL byte and has no terminating
    // one. None when it does not fit.
    static std::optional<UnixAddress> abstract(std::string_view name);

    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address); }
};

struct ConnectFailure {
    enum class Kind {
        socket,    // no descriptor could be made or set up
        refused,   // nobody listens there, or the connect failed otherwise
        timed_out, // the listen queue stayed full until the deadline
    };
    Kind kind;
    int code; // the errno
};

// Connects a new stream socket to `address`. A server that stopped accepting leaves a blocking
// connect() hanging for good once its listen queue is full; this one is non-blocking and retries
// every 20 ms until `deadline`. The descriptor comes back blocking and close-on-exec.
std::expected<UniqueFd, ConnectFailure>
connect_unix(const UnixAddress& address, std::chrono::steady_clock::time_point deadline);

} // namespace util
