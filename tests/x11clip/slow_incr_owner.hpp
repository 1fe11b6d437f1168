// An owner that sends every text incrementally and slowly, and never gives up on a
// transfer: it keeps sending to a requestor that stopped reading, even after losing
// CLIPBOARD. What a read leaves behind when it gives up meets it again.
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/x11clip/x11_clients.hpp"

namespace quillfen::test {

class SlowIncrOwner {
  public:
    // Owns CLIPBOARD; answers every request with INCR and then sends chunk after chunk,
    // each `pause` after the requestor deleted the previous one, then the empty chunk.
    SlowIncrOwner(const std::string& display, std::vector<std::string> chunks,
                  std::chrono::milliseconds pause);
    ~SlowIncrOwner();
    SlowIncrOwner(const SlowIncrOwner&) = delete;
    SlowIncrOwner& operator=(const SlowIncrOwner&) = delete;

    // All chunks joined: what a complete transfer delivers.
    std::string text() const;

  private:
    using Clock = std::chrono::steady_clock;
    struct Transfer {
        xcb_window_t requestor;
        xcb_atom_t property;
        std::size_t next = 0;                 // index of the next chunk to send
        std::optional<Clock::time_point> due; // when it goes; none: waiting for a deletion
    };
    void serve(const std::stop_token& stop);
    void answer(const xcb_selection_request_event_t& request);
    void deleted(const xcb_property_notify_event_t& notify);
    void send_due();

    RawClient client_;
    std::vector<std::string> chunks_;
    std::chrono::milliseconds pause_;
    xcb_atom_t incr_;
    xcb_atom_t utf8_string_;
    std::vector<Transfer> transfers_; // the thread's alone
    std::jthread thread_;
};

} // namespace quillfen::test
