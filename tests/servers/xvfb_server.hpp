// A real Xvfb X server on a display number nothing else uses, for the length of a test.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

#include "tests/servers/test_accounts.hpp"
#include "tests/servers/watched_process.hpp"

namespace quillfen::test {

class XvfbServer {
  public:
    // Starts `Xvfb :N -nolisten tcp` and returns once it accepts connections.
    // Throws std::runtime_error when no server could be started.
    XvfbServer();
    // The same, run as `account` instead of this process's user.
    explicit XvfbServer(const Account& account);
    // The same, started with -auth on a file of its own that holds `hex` (as mcookie makes it):
    // only clients that present that MIT-MAGIC-COOKIE-1 are let in, as on a display manager's
    // server.
    struct Cookie {
        std::string hex;
    };
    explicit XvfbServer(const Cookie& cookie);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    std::string display() const { return ":" + std::to_string(number_); }
    int number() const { return number_; }

    // Ends the server now; its clients lose their connections.
    void kill();
    // Starts a fresh server on the same display number.
    void restart();
    bool running() const { return xvfb_ != nullptr; }
    pid_t pid() const { return xvfb_ ? xvfb_->pid() : -1; }

  private:
    XvfbServer(std::optional<Account> account, std::string cookie);
    // Starts Xvfb on `number`; false when that server did not come up.
    bool start_on(int number);

    std::optional<Account> account_;
    std::string cookie_;
    std::string authority_file_; // the server's, when it wants a cookie
    int number_ = -1;
    std::unique_ptr<WatchedProcess> xvfb_;
};

// A display number on which no server listens (no socket and no lock file), picked at random.
int unused_display_number();

} // namespace quillfen::test
