// An owner that sends every text incrementally and slowly, and never gives up on a
// transfer: it keeps sending to a requestor that stopped reading, even after losing
// CLIPBOARD. What a read leaves behind when it gives up meets it again. An endless one never
// sends the empty chunk: it repeats its chunks for as long as the requestor takes them.
#pragma once

#include <xcb/xcb.h>

#include <atomic>
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
    enum class Ending { empty_chunk, never };
    SlowIncrOwner(const std::string& display, std::vector<std::string> chunks,
                  std::chrono::milliseconds pause, Ending ending = Ending::empty_chunk);
    ~SlowIncrOwner();
    SlowIncrOwner(const SlowIncrOwner&) = delete;
    SlowIncrOwner& operator=(const SlowIncrOwner&) = delete;

    // All chunks joined: what a complete transfer delivers.
    std::string text() const;
    // Requests answered, and the bytes of all chunks sent, so far.
    std::size_t requests() const { return requests_; }
    std::size_t sent() const { return sent_; }

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
    Ending ending_;
    std::atomic<std::size_t> requests_ = 0;
    std::atomic<std::size_t> sent_ = 0;
    xcb_atom_t incr_;
    xcb_atom_t utf8_string_;
    std::vector<Transfer> transfers_; // the thread's alone
    std::jthread thread_;
};

} // namespace quillfen::test
