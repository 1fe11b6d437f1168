// A process that listens on the abstract X socket of a display and never accepts: connecting
// succeeds through its queue, and then nothing answers.
#pragma once

#include <optional>

#include "tests/servers/test_accounts.hpp"
#include "tests/servers/watched_process.hpp"

namespace quillfen::test {

class SilentListener {
  public:
    // Listens on "@/tmp/.X11-unix/X<number>", as `account` when given.
    SilentListener(int number, std::optional<Account> account = std::nullopt);

  private:
    WatchedProcess listener_;
};

} // namespace quillfen::test
