#include "tests/servers/silent_listener.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "util/unix_socket.hpp"

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
              const auto address =
                  util::UnixAddress::abstract("/tmp/.X11-unix/X" + std::to_string(number));
              const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
              if (fd < 0 || ::bind(fd, address->get(), address->length) != 0 ||
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
