// The text this process offers as a compositor's selection, and whether it still is.
// A reader asks the serving thread, which answers after a round trip on its own connection:
// a cancel the compositor sent before the question has then been seen.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "util/unique_fd.hpp"
#include "wlclip/protocol.hpp"
#include "wlclip/source.hpp"

namespace wlclip {

class Offered {
  public:
    // Throws std::system_error when no eventfd can be made.
    explicit Offered(std::shared_ptr<const std::string> bytes);

    // The bytes, when the serving thread answers within `limit` that its source is still the
    // selection; none otherwise.
    std::shared_ptr<const std::string> confirmed(std::chrono::milliseconds limit);

  private:
    friend class SelectionChecks;
    std::shared_ptr<const std::string> bytes_;
    util::UniqueFd asked_fd_; // an eventfd, readable while a question waits for its round trip
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t asked_ = 0;    // questions so far
    std::uint64_t answered_ = 0; // the newest question answered
    bool selection_ = false;     // that answer
    bool ended_ = false;         // the serving thread answers no more
};

// The serving thread's side: turns questions into round trips and answers each with whether
// `source` (the first seat's, which a read looks at) has been cancelled. Must go before the
// connection and the source; ending it tells waiting readers that no answer will come.
class SelectionChecks {
  public:
    SelectionChecks(Offered& offered, const Source& source);
    ~SelectionChecks();
    SelectionChecks(const SelectionChecks&) = delete;
    SelectionChecks& operator=(const SelectionChecks&) = delete;

    int fd() const noexcept { return offered_.asked_fd_.get(); }
    // When fd() is readable: sends the round trip that answers the questions asked so far.
    void start(wl_display* display);

  private:
    struct Pending {
        SelectionChecks* self;
        std::uint64_t question;
        Owned<wl_callback> callback;
    };
    static void on_done(void* data, wl_callback*, std::uint32_t);
    static const wl_callback_listener listener;

    Offered& offered_;
    const Source& source_;
    std::list<Pending> pending_;
};

} // namespace wlclip
