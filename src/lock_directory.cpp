#include "lock_directory.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include "fatal.hpp"
#include "log.hpp"
#include "util/errno_text.hpp"

namespace quillfen {

std::expected<util::UniqueFd, std::string> open_lock_directory(const std::string& path,
                                                               uid_t owner) {
    if (!path.starts_with('/'))
        return std::unexpected("it is not an absolute path");
    // The checks below are made on this descriptor, so the directory cannot be swapped between
    // the checks and the creation of the lock file.
    util::UniqueFd dir(open(path.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir) {
        const int code = errno;
        struct stat link {};
        if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
            return std::unexpected("it is a symbolic link");
        if (code == ENOTDIR)
            return std::unexpected("it is not a directory");
        return std::unexpected(util::errno_name(code));
    }
    struct stat info {};
    if (fstat(dir.get(), &info) != 0)
        return std::unexpected(util::errno_name(errno));
    if (info.st_uid != owner)
        return std::unexpected(fmt::format("it is owned by user {}", info.st_uid));
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return std::unexpected("its group or others can write to it");
    return dir;
}

LockDirectory find_lock_directory() {
    const uid_t uid = geteuid();
    std::vector<std::string> refusals;

    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        auto dir = open_lock_directory(runtime, uid);
        if (dir)
            return LockDirectory{runtime, std::move(*dir)};
        QF_WARN("Not using XDG_RUNTIME_DIR {} for the service's lock: {}", runtime, dir.error());
        refusals.push_back(fmt::format("XDG_RUNTIME_DIR {}: {}", runtime, dir.error()));
    } else {
        refusals.emplace_back("XDG_RUNTIME_DIR is not set");
    }

    std::vector<std::string> fallbacks{fmt::format("/run/user/{}", uid)};
    if (const passwd* entry = getpwuid(uid); entry && entry->pw_dir && *entry->pw_dir)
        fallbacks.emplace_back(entry->pw_dir);
    else
        refusals.push_back(fmt::format("user {} has no home directory", uid));
    for (const std::string& path : fallbacks) {
        auto dir = open_lock_directory(path, uid);
        if (dir)
            return LockDirectory{path, std::move(*dir)};
        refusals.push_back(fmt::format("{}: {}", path, dir.error()));
    }
    fatal(fmt::format("Failed to find a directory for this user's service lock: {}",
                      fmt::join(refusals, "; ")));
}

} // namespace quillfen
