// The cookie a local X server expects, from the user's authority file. libxcb reads it only when
// it connects by itself; we hand it the connected socket, so we look it up ourselves.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace x11clip {

struct Cookie {
    std::string name; // "MIT-MAGIC-COOKIE-1"
    std::string data;
};

// The MIT-MAGIC-COOKIE-1 for local display `number` in $XAUTHORITY, else ~/.Xauthority;
// nothing when there is none, and the connection goes without.
std::optional<Cookie> local_cookie(int number);

// The first MIT-MAGIC-COOKIE-1 entry of an authority file's contents that is for this host
// (FamilyLocal with `host`, or FamilyWild) and for display `number`.
std::optional<Cookie> find_cookie(std::string_view file, std::string_view host, int number);

} // namespace x11clip
