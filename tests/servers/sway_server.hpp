// Real headless Wayland compositors for the length of a test: sway (which offers the
// data-control protocol) and weston (which does not). Each runs under an unprivileged
// user, since sway refuses root, in an XDG_RUNTIME_DIR of its own.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

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

  protected:
    // Starts `argv` and returns once it answers on its socket; throws
    // std::runtime_error when it does not come up. `socket_name` empty: take the first
    // socket the compositor makes.
    HeadlessCompositor(std::vector<std::string> argv, std::vector<std::string> env,
                       std::string socket_name);
    ~HeadlessCompositor();

  private:
    void stop() noexcept;
    std::string runtime_dir_;
    std::string socket_name_;
    std::unique_ptr<WatchedProcess> compositor_;
};

class SwayServer : public HeadlessCompositor {
  public:
    SwayServer();
};

class WestonServer : public HeadlessCompositor {
  public:
    WestonServer();
};

// The unprivileged user the compositors run as; created when missing.
inline constexpr const char* compositor_user = "quillfen-test";

} // namespace quillfen::test
