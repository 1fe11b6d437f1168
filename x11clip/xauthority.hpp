// The cookie a local X server expects, from the user's authority file. libxcb reads it only when
// it connects by itself; we hand it the connected socket, so we look it up ourselves.
#pragma once

#include <optional>
#include <string>

namespace x11clip {

struct Cookie {
    std::string name; // "MIT-MAGIC-COOKIE-1"
    std::string data;
};

// The first MIT-MAGIC-COOKIE-1 for local display `number` on this host in $XAUTHORITY, else
// ~/.Xauthority, as libXau finds it; nothing when there is none, and the connection goes
// without.
std::optional<Cookie> local_cookie(int number);

} // namespace x11clip
