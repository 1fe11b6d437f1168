#include "single_instance.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "fatal.hpp"
#include "lock_directory.hpp"
#include "util/errno_text.hpp"

namespace quillfen {

namespace {
constexpr const char* lock_name = "quillfen.lock";
}

util::UniqueFd claim_single_instance() {
    const LockDirectory dir = find_lock_directory();
    const std::string path = fmt::format("{}/{}", dir.path, lock_name);
    util::UniqueFd lock(
        openat(dir.fd.get(), lock_name, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!lock)
        fatal(fmt::format("Failed to claim this user's service lock {}: {}", path,
                          util::errno_name(errno)));
    int result;
    do {
        result = flock(lock.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        if (errno == EWOULDBLOCK)
            fatal(fmt::format("quillfen is already running for user {}; not starting another one",
                              geteuid()));
        fatal(fmt::format("Failed to claim this user's service lock {}: {}", path,
                          util::errno_name(errno)));
    }
    return lock;
}

} // namespace quillfen
