// The serving side: the connection that owns CLIPBOARD and the thread that answers for it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "util/unique_fd.hpp"
#include "x11clip/connection.hpp"

namespace x11clip {

// Chunk size of incremental transfers.
inline constexpr std::size_t incr_chunk_size = 4000;
// A requestor that takes no chunk for this long is given up on when the owner finishes.
inline constexpr std::chrono::milliseconds incr_idle_limit{2000};

class Owner {
  public:
    // Takes over the serving connection and starts the owner thread.
    static std::expected<std::unique_ptr<Owner>, ClipboardError> start(Connection serving);

    // Wakes the thread, which drops any transfer under way and ends; the serving
    // connection closes once it has.
    ~Owner();
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;

    // Serves the text from now on, takes CLIPBOARD at the server's time, read on `clock`,
    // and confirms with the server that the serving window owns it. `clock` is a connection
    // whose events the calling thread reads: those of the serving one are the owner thread's.
    std::expected<void, ClipboardError> serve(std::string_view text, const Connection& clock);

    // The window that owns CLIPBOARD while we serve.
    xcb_window_t window() const { return serving_.window; }
    // Whether a time limit ended the serving connection: the server did not answer in time.
    bool timed_out() const { return *serving_.timed_out != 0; }

    struct Held {
        std::shared_ptr<const std::string> text;
        bool utf8; // whether a reader would take the bytes for UTF-8
    };
    // The text being served, unless a SelectionClear dropped it or the thread has ended.
    // Whether the server still names our window as the owner is the caller's question.
    std::optional<Held> held();

    // From now on every request is refused; the thread finishes the incremental transfers
    // under way by `by`, each given up after incr_idle_limit without progress, and ends.
    void finish(std::chrono::steady_clock::time_point by);
    // Returns once the thread has ended, or at `until`.
    void wait_ended(std::chrono::steady_clock::time_point until);

  private:
    struct Served {
        std::shared_ptr<const std::string> text; // none: nothing to serve
        bool utf8 = false;
        // The request that last took CLIPBOARD; a SelectionClear the server generated
        // before it concerns an earlier ownership and must not drop the new text.
        std::uint32_t ownership_sequence = 0;
        xcb_timestamp_t ownership_time = XCB_CURRENT_TIME; // what TIMESTAMP answers
    };
    class Thread;

    Owner(Connection serving, util::UniqueFd wake);
    void wake() const;

    Connection serving_;
    util::UniqueFd wake_;
    std::size_t incr_threshold_; // texts this long or longer go by incremental transfer
    std::mutex mutex_;
    Served served_;
    std::optional<std::chrono::steady_clock::time_point> finish_by_;
    std::condition_variable ended_changed_;
    std::atomic<bool> ended_{false};
    std::jthread thread_;
};

} // namespace x11clip
