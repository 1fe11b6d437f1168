// Failures that paste and copy meet alike while setting up; each turns them into its own
// error kinds (wlclip/error.hpp).
#pragma once

#include <variant>

#include "wlclip/error.hpp"
#include "wlclip/protocol.hpp"

namespace wlclip {

struct MissingManager {};
struct NoUsableSeat {};

// ConnectError: connecting failed; IoError: the socket or the protocol failed afterwards.
using SetupFailure = std::variant<ConnectError, IoError, MissingManager, NoUsableSeat>;

// The kind a setup failure ends a paste or a copy in: Error is paste::Error or copy::Error.
template <class Error>
Error setup_error(const SetupFailure& failure) {
    struct Visitor {
        Error operator()(ConnectError kind) const { return WaylandConnection{kind}; }
        Error operator()(IoError io) const { return WaylandCommunication{io}; }
        Error operator()(MissingManager) const {
            return MissingProtocol{manager_interface_name, manager_version};
        }
        Error operator()(NoUsableSeat) const { return NoSeats{}; }
    };
    return std::visit(Visitor{}, failure);
}

} // namespace wlclip
