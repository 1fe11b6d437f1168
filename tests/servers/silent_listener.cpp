#include "tests/servers/silent_listener.hpp"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>

namespace quillfen::test {

namespace {

WatchOptions as(const std::optional<Account>& account) {
    WatchOptions options;
    if (account)
        options.user = std::pair{account->uid, account->gid};
    return options;
}

} // namespace

SilentListener::SilentListener(int number, std::optional<Account> account)
    : listener_(
          [number] {
              const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
              sockaddr_un address{};
              address.sun_family = AF_UNIX;
              std::memcpy(address.sun_path + 1, path.data(), path.size());
              const auto length =
                  static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
              const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
              if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
                  ::listen(fd, 16) != 0)
                  return 1;
              [[maybe_unused]] auto n = ::write(STDOUT_FILENO, "r", 1);
              for (;;)
                  ::pause();
          },
          as(account)) {
    if (!listener_.wait_for_out("r", std::chrono::seconds(20)))
        throw std::runtime_error("the listener did not start");
}

} // namespace quillfen::test
