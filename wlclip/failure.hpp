// Failures that paste and copy meet alike while setting up; each turns them into its own
// error kinds (wlclip/error.hpp).
#pragma once

#include <variant>

#include "wlclip/error.hpp"

namespace wlclip {

struct MissingManager {};
struct NoUsableSeat {};

// ConnectError: connecting failed; IoError: the socket or the protocol failed afterwards.
using SetupFailure = std::variant<ConnectError, IoError, MissingManager, NoUsableSeat>;

} // namespace wlclip
