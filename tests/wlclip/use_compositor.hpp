// Points this process's environment at a compositor, as the service does before each call.
#pragma once

#include "tests/servers/sway_server.hpp"

namespace quillfen::test {

void use_compositor(const HeadlessCompositor& compositor);

} // namespace quillfen::test
