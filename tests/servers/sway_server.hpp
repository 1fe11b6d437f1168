// Real headless Wayland compositors for the length of a test: sway (which offers the
// data-control protocol) and weston (which does not). Each runs under an unprivileged
// user, since sway refuses root, in an XDG_RUNTIME_DIR of its own.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/servers/test_accounts.hpp"
#include "tests/servers/watched_process.hpp"

namespace quillfen::test {

class HeadlessCompositor {
  public:
    HeadlessCompositor(const HeadlessCompositor&) = delete;
    HeadlessCompositor& operator=(const HeadlessCompositor&) = delete;

    // The directory that holds the compositor's socket (mode 0700, owned by its user).
    const std::string& runtime_dir() const { return runtime_dir_; }
    // The socket's name inside runtime_dir(), "wayland-N".
    const std::string& socket_name() const { return socket_name_; }
    pid_t pid() const { return compositor_ ? compositor_->pid() : -1; }
    // The last lines the compositor wrote, for an error message.
    std::string log_tail() const;
    // Ends the compositor's process group with `signal`, as a crash or a logout does, and starts
    // it again `gap` later in the same runtime directory, where it takes the same socket name.
    void restart(int signal, std::chrono::milliseconds gap = std::chrono::milliseconds(0));

  protected:
    // Starts `argv` as `user` and returns once it answers on its socket; throws
    // std::runtime_error when it does not come up. `socket_name` empty: take the first
    // socket the compositor makes. An argument "@CONFIG@" becomes the path of a file holding
    // `config`.
    HeadlessCompositor(const Account& user, std::vector<std::string> argv,
                       std::vector<std::string> env, std::string socket_name,
                       const std::string& config = "");
    ~HeadlessCompositor();

    bool running();
    void stop() noexcept;
    // The first line of the file `name` in runtime_dir(), once the compositor has written it
    // there; throws std::runtime_error (and stops the compositor) when it does not come.
    std::string await_line(const std::string& name, const std::string& what);

  private:
    // Starts the compositor and returns once it answers on its socket.
    void launch();

    Account user_;
    std::vector<std::string> argv_;
    std::vector<std::string> env_;
    std::string runtime_dir_;
    std::string socket_name_;
    std::unique_ptr<WatchedProcess> compositor_;
};

class SwayServer : public HeadlessCompositor {
  public:
    enum class Xwayland {
        disabled, // else sway would make an X display whenever the package is installed
        enabled,  // as users run it: the X display comes up at its first client
    };
    struct Options {
        Xwayland xwayland = Xwayland::disabled;
        // A second seat, "seat1", beside sway's own "seat0"; each has a selection of its own.
        bool second_seat = false;
        // The account sway runs as; compositor_user when none.
        std::optional<Account> user = std::nullopt;
    };
    explicit SwayServer(Xwayland xwayland = Xwayland::disabled);
    explicit SwayServer(const Options& options);

    // The display of sway's Xwayland, ":N"; empty when disabled. It lets in only sway's user.
    const std::string& x_display() const { return x_display_; }

  private:
    std::string x_display_;
};

class WestonServer : public HeadlessCompositor {
  public:
    WestonServer();
};

// The unprivileged user the compositors run as; created when missing.
inline constexpr const char* compositor_user = "quillfen-test";

} // namespace quillfen::test
