// A made-up X server on the abstract socket of a display: it completes the connection set-up,
// answers the few requests a client's own set-up makes, and stops answering at the first
// request with a chosen major opcode, keeping every connection open. A client that waits for
// that answer without a time limit waits for ever.
#pragma once

#include <chrono>
#include <cstdint>

#include "tests/servers/watched_process.hpp"

namespace quillfen::test {

class StallingXServer {
  public:
    // Opcodes a client's set-up waits on.
    static constexpr std::uint8_t intern_atom = 16;
    static constexpr std::uint8_t get_input_focus = 43; // libxcb's check of a request
    static constexpr std::uint8_t query_extension = 98;

    // Serves display `number` from a child process as our user.
    StallingXServer(int number, std::uint8_t stall_at);

    // Whether the server has received the request it stalls at, within `limit`.
    bool stalled(std::chrono::milliseconds limit);

  private:
    WatchedProcess server_;
};

} // namespace quillfen::test
