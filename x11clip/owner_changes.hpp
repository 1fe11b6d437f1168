// Every change of CLIPBOARD's owner, as the XFIXES extension reports it: a new copy takes CLIPBOARD
// anew, even where the same window takes it, so a count that has not moved means the same copy.
#pragma once

#include "x11clip/connection.hpp"

namespace x11clip {

// Asks the server to report the changes on `connection`, which counts them from then on; false
// when the server lacks XFIXES, and then nothing can be known unchanged.
bool watch_owner_changes(Connection& connection);

} // namespace x11clip
