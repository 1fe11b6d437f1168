// A process that listens on the abstract X socket of a display and never accepts: connecting
// succeeds through its queue, and then nothing answers.
#pragma once

#include <sys/types.h>

#include <optional>

#include "tests/servers/test_accounts.hpp"

namespace quillfen::test {

class SilentListener {
  public:
    // Listens on "@/tmp/.X11-unix/X<number>", as `account` when given.
    SilentListener(int number, std::optional<Account> account = std::nullopt);
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

  private:
    void stop();
    pid_t pid_ = -1;
};

} // namespace quillfen::test
