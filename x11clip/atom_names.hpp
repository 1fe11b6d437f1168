// The names of atoms, asked of the server once each: an atom keeps its name for the server's life.
#pragma once

#include <xcb/xcb.h>

#include <expected>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "x11clip/connection.hpp"

namespace x11clip {

class AtomNames {
  public:
    // The names of `atoms`, in their order; the unknown ones in one round trip.
    std::expected<std::vector<std::string>, ClipboardError>
    names(const Connection& connection, std::span<const xcb_atom_t> atoms);

  private:
    std::unordered_map<xcb_atom_t, std::string> known_;
};

} // namespace x11clip
