// A real Xvfb X server on a display number nothing else uses, for the length of a test.
#pragma once

#include <sys/types.h>

#include <string>

namespace quillfen::test {

class XvfbServer {
  public:
    // Starts `Xvfb :N -nolisten tcp` and returns once it accepts connections.
    // Throws std::runtime_error when no server could be started.
    XvfbServer();
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    std::string display() const { return ":" + std::to_string(number_); }
    int number() const { return number_; }

    // Ends the server now; its clients lose their connections.
    void kill();
    // Starts a fresh server on the same display number.
    void restart();
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

  private:
    // Starts Xvfb on `number`; false when that server did not come up.
    bool start_on(int number);

    int number_ = -1;
    pid_t pid_ = -1;
};

// A display number on which no server listens (no socket and no lock file), picked at random.
int unused_display_number();

} // namespace quillfen::test
