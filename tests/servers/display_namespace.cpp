#include "tests/servers/display_namespace.hpp"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace quillfen::test {

std::string enter_private_display_namespace() {
    if (::geteuid() != 0)
        return "needs root for private namespaces";
    if (::unshare(CLONE_NEWNS | CLONE_NEWNET) != 0)
        return std::string("unshare: ") + std::strerror(errno);
    // Mounts made from here on stay in this namespace.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("making / private: ") + std::strerror(errno);
    if (::mkdir("/tmp/.X11-unix", 01777) != 0 && errno != EEXIST)
        return std::string("mkdir /tmp/.X11-unix: ") + std::strerror(errno);
    if (::mount("tmpfs", "/tmp/.X11-unix", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0)
        return std::string("mounting /tmp/.X11-unix: ") + std::strerror(errno);
    return mount_private_run_user();
}

std::string mount_private_run_user() {
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("making / private: ") + std::strerror(errno);
    if (::mkdir("/run/user", 0755) != 0 && errno != EEXIST)
        return std::string("mkdir /run/user: ") + std::strerror(errno);
    if (::mount("tmpfs", "/run/user", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0)
        return std::string("mounting /run/user: ") + std::strerror(errno);
    const std::string own = "/run/user/" + std::to_string(::geteuid());
    if (::mkdir(own.c_str(), 0700) != 0)
        return "mkdir " + own + ": " + std::strerror(errno);
    return {};
}

} // namespace quillfen::test
