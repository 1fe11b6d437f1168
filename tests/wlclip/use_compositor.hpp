// A compositor for the layer to reach, and for the peer clients (wl-copy, wl-paste) that run
// with this process's environment.
#pragma once

#include "tests/servers/scoped_environment.hpp"
#include "tests/servers/sway_server.hpp"
#include "wlclip/address.hpp"

namespace quillfen::test {

// The compositor's socket, as the layer takes it.
wlclip::Address address_of(const HeadlessCompositor& compositor);

// Points this process's environment at a compositor, for the peer clients, until `environment`
// puts it back.
void use_compositor(const HeadlessCompositor& compositor, ScopedEnvironment& environment);

} // namespace quillfen::test
