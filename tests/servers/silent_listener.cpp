#include "tests/servers/silent_listener.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>

namespace quillfen::test {

SilentListener::SilentListener(int number, std::optional<Account> account) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2");
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("fork");
    if (pid_ == 0) {
        ::close(ready[0]);
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, path.data(), path.size());
        const auto length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if ((account && !become(*account)) || fd < 0 ||
            ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
            ::listen(fd, 16) != 0)
            ::_exit(1);
        [[maybe_unused]] auto n = ::write(ready[1], "r", 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char c = 0;
    const bool listening = ::read(ready[0], &c, 1) == 1;
    ::close(ready[0]);
    if (!listening) {
        stop();
        throw std::runtime_error("the listener did not start");
    }
}

SilentListener::~SilentListener() {
    stop();
}

void SilentListener::stop() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

} // namespace quillfen::test
