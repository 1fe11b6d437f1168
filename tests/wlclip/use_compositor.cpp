#include "tests/wlclip/use_compositor.hpp"

#include <cstdlib>

namespace quillfen::test {

wlclip::Address address_of(const HeadlessCompositor& compositor) {
    return wlclip::Address::in_runtime_dir(compositor.runtime_dir().c_str(),
                                           compositor.socket_name());
}

void use_compositor(const HeadlessCompositor& compositor) {
    ::unsetenv("WAYLAND_SOCKET");
    ::setenv("XDG_RUNTIME_DIR", compositor.runtime_dir().c_str(), 1);
    ::setenv("WAYLAND_DISPLAY", compositor.socket_name().c_str(), 1);
}

} // namespace quillfen::test
