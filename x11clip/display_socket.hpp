// The socket of a local X server, connected by us so that the connect is bounded in time and the
// server's user is checked before libxcb says anything to it.
#pragma once

#include <chrono>
#include <expected>

#include "util/unique_fd.hpp"
#include "x11clip/error.hpp"

namespace x11clip {

// Connects to local display `number`: Linux X servers listen on the abstract socket
// "@/tmp/.X11-unix/XN" and on the path "/tmp/.X11-unix/XN"; the first whose server runs as
// our user or as root is taken. Fails with the connection kind when nothing accepts within
// `limit`, and with the another_user kind when only another user's server does.
std::expected<util::UniqueFd, ClipboardError>
connect_display_socket(int number, std::chrono::milliseconds limit);

} // namespace x11clip
