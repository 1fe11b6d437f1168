// Where the lock of this user's service lives: a directory that only the user (or root) can
// write, so that no other account can create the lock file first or swap it for something else.
#pragma once

#include <sys/types.h>

#include <expected>
#include <string>

#include "util/unique_fd.hpp"

namespace quillfen {

struct LockDirectory {
    std::string path;
    util::UniqueFd fd; // the directory that was checked, for creating the lock file inside it
};

// Opens `path` when it is a directory, not a symbolic link, owned by `owner` and not writable by
// its group or others; otherwise why not, as a short reason.
std::expected<util::UniqueFd, std::string> open_lock_directory(const std::string& path,
                                                               uid_t owner);

// The first usable of $XDG_RUNTIME_DIR, /run/user/<euid> and the effective user's home directory.
// A refused $XDG_RUNTIME_DIR gets a warning; none usable is a fatal condition.
LockDirectory find_lock_directory();

} // namespace quillfen
