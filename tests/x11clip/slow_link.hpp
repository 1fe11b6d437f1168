// A display that reaches a real X server through a slow link: every piece a client sends is held
// for a while before it is passed on, and what the server sends goes back at once. The server's
// clock then moves on between an event it sends a client and the client's answer to it.
#pragma once

#include <chrono>

#include "tests/servers/watched_process.hpp"

namespace quillfen::test {

class SlowLink {
  public:
    // Serves display `number` from a child process as our user, each client's connection passed
    // on to the server of display `server`; returns once it accepts connections.
    SlowLink(int number, int server, std::chrono::milliseconds hold);

  private:
    WatchedProcess link_;
};

} // namespace quillfen::test
