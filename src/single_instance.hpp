// One service per user: two services would each take the other's discovery markers (display
// names) for the user's text and spread them.
#pragma once

#include "util/unique_fd.hpp"

namespace quillfen {

// Takes the lock of this user's service: an exclusive flock on "quillfen.lock" in the user's
// lock directory (see lock_directory.hpp), held for as long as the returned descriptor is open.
// Only the supervisor is meant to hold it; a worker closes its copy. When another service holds
// the lock, or it cannot be taken, this is a fatal condition.
util::UniqueFd claim_single_instance();

} // namespace quillfen
