// One service per user: two services would each take the other's discovery markers (display
// names) for the user's text and spread them.
#pragma once

#include "util/unique_fd.hpp"

namespace quillfen {

// Claims the name of this user's service, held for as long as the returned descriptor is open
// in any process (workers inherit it, so an orphaned worker still counts). Nothing is left on
// disk: the name is an abstract unix socket address, "quillfen-" and the effective user id.
// When another process holds the name, or it cannot be claimed, this is a fatal condition.
util::UniqueFd claim_single_instance();

} // namespace quillfen
