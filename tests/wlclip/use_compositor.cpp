#include "tests/wlclip/use_compositor.hpp"

#include <cstdlib>

namespace quillfen::test {

void use_compositor(const HeadlessCompositor& compositor) {
    ::unsetenv("WAYLAND_SOCKET");
    ::setenv("XDG_RUNTIME_DIR", compositor.runtime_dir().c_str(), 1);
    ::setenv("WAYLAND_DISPLAY", compositor.socket_name().c_str(), 1);
}

} // namespace quillfen::test
