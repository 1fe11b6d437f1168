// One copy's serving thread: it offers a text on every seat of one compositor, serves every
// request until the compositor cancels the offer, then closes its connection, finishes the
// transfers under way and ends.
#pragma once

#include <chrono>
#include <condition_variable>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "util/unique_fd.hpp"
#include "wlclip/address.hpp"
#include "wlclip/error.hpp"
#include "wlclip/offered.hpp"
#include "wlclip/transfers.hpp"

namespace wlclip {

class ServingThread {
  public:
    using Clock = std::chrono::steady_clock;

    // Starts the thread, which connects to `endpoint` and offers `bytes`; returns once the
    // compositor has processed the selection request. Throws when the thread cannot be started
    // or ends without reporting.
    static std::expected<std::unique_ptr<ServingThread>, copy::Error>
    start(Endpoint endpoint, std::shared_ptr<const std::string> bytes);

    // Stops the thread (as stop() does, by serving_stop_limit from now at the latest) and
    // joins it.
    ~ServingThread();
    ServingThread(const ServingThread&) = delete;
    ServingThread& operator=(const ServingThread&) = delete;

    // The offer, while the thread serves it.
    Offered& offered() noexcept { return offered_; }

    // Whether the thread has ended: the compositor cancelled the offer, or it was stopped.
    bool ended();

    // From now on no request is taken: the thread closes its compositor connection, finishes
    // the transfers under way by `by`, each given up after serving_idle_limit without progress,
    // and ends. A later `by` than an earlier one changes nothing.
    void stop(Clock::time_point by);
    // stop(), asked for by the process about to end: what the transfers given up lacked is
    // kept for cut().
    void finish(Clock::time_point by);
    // Returns once the thread has ended, or at `until`.
    void wait_ended(Clock::time_point until);
    // What the transfers given up since finish() lacked.
    Unfinished cut();

  private:
    using Result = std::expected<void, copy::Error>;

    explicit ServingThread(std::shared_ptr<const std::string> bytes);
    void run(Endpoint endpoint) noexcept;
    void offer_until_withdrawn(Endpoint endpoint, Transfers& transfers);
    // False when the caller has given up already: the thread must not serve then.
    bool deliver(Result result);
    Clock::time_point finish_by();

    std::shared_ptr<const std::string> bytes_;
    Offered offered_;
    util::UniqueFd stop_; // an eventfd, readable once the thread is asked to stop
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Result> result_;
    std::optional<std::string> crash_; // the thread failed before it could report
    bool abandoned_ = false;           // the caller gave up waiting for the report
    std::optional<Clock::time_point> finish_by_;
    bool counted_ = false; // finish() was asked for
    Unfinished cut_;
    bool ended_ = false;
    std::jthread thread_;
};

} // namespace wlclip
