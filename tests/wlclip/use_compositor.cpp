#include "tests/wlclip/use_compositor.hpp"

namespace quillfen::test {

wlclip::Address address_of(const HeadlessCompositor& compositor) {
    return wlclip::Address::in_runtime_dir(compositor.runtime_dir().c_str(),
                                           compositor.socket_name());
}

void use_compositor(const HeadlessCompositor& compositor, ScopedEnvironment& environment) {
    environment.unset("WAYLAND_SOCKET");
    environment.set("XDG_RUNTIME_DIR", compositor.runtime_dir());
    environment.set("WAYLAND_DISPLAY", compositor.socket_name());
}

} // namespace quillfen::test
