// The globals both directions need: the data-control manager and the seats.
#pragma once

#include <chrono>
#include <expected>
#include <vector>

#include "wlclip/connection.hpp"

namespace wlclip {

struct Globals {
    Owned<zwlr_data_control_manager_v1> manager;
    std::vector<Owned<wl_seat>> seats; // in the order the compositor announced them
};

// Binds the manager at exactly version 1 and every seat of version 2 or later. A missing
// manager is reported before a missing seat.
std::expected<Globals, SetupFailure>
bind_globals(Connection& connection, std::chrono::milliseconds limit, int stop_fd = -1);

} // namespace wlclip
