// The clipboard of one wlroots compositor: its regular selection, through the data-control
// layer in wlclip/. Holds the socket name, the layer's clipboard of that socket with the threads
// that serve our offers, and a note on our last offer; every call connects anew.
#pragma once

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "clipboard.hpp"
#include "wlclip/wlclip.hpp"

namespace quillfen {

// Reads put off after one gave up on the selection's owner (it sent nothing, or did not finish, in
// time or within the size limit): each read connects anew and gets a new offer, so nothing tells
// the same endless copy from a new one, and every read of it would cost the whole limit again.
struct BackOff {
    static constexpr std::chrono::milliseconds first{1000};
    static constexpr std::chrono::milliseconds longest{8000};
    std::chrono::milliseconds length{0}; // zero while the last read did not give up
    std::chrono::steady_clock::time_point until{};
    int code = 0; // the error number of the give-up, which the reads put off report
};

class WlrClipboard final : public Clipboard {
  public:
    // The socket `display` in XDG_RUNTIME_DIR, read here once.
    explicit WlrClipboard(std::string display);

    void debug_fmt(Formatter& f) const override;
    std::string display() const override { return display_; }
    std::expected<std::string, MyError> get() override;
    std::expected<void, MyError> set(std::string_view text) override;
    // No selection is the empty text; no text type offered, an owner that sends nothing for 2 s or
    // does not finish within 2 s or within wlclip::read_size_limit, an offer that is no longer
    // the selection when its data ends (its owner died or was replaced), and bytes that are not
    // UTF-8 are a selection without text. After a read that gave up (the time or the size limit),
    // another client's selection is not read for BackOff's length, doubling from 1 s to 8 s while
    // reads keep giving up.
    std::expected<Content, MyError> read() override;
    // Our offer is still the selection: a round trip of its serving thread, no transfer.
    std::expected<bool, MyError> holds_own_text() override;
    // Every serving thread closes its compositor connection and finishes its transfers, each
    // given up after wlclip::serving_idle_limit without progress. A reader sees the end of a cut
    // transfer as that of a whole one, so every cut one is counted.
    void finish_serving(std::chrono::steady_clock::time_point by) override;
    CutTransfers wait_for_serving(std::chrono::steady_clock::time_point by) override;

  private:
    // Whether `error` is that of a compositor that did not answer in time, or of one that had
    // answered and whose socket nobody listens on for a moment; the clipboard is then busy.
    bool unanswered(const MyError& error);

    std::string display_;
    wlclip::Clipboard clipboard_;
    // The offer last checked for UTF-8, and the answer: a read converts, so only a valid
    // offer reads as itself. Checked once per offer rather than on every pass.
    std::weak_ptr<const std::string> checked_offer_;
    bool checked_valid_ = false;
    BackOff back_off_;
    // A compositor that did not answer in time (stopped, say) is busy until then: neither read
    // nor written, and tried again once it is due. The text written last waits for it.
    std::optional<std::chrono::steady_clock::time_point> busy_until_;
    // Since when nobody listens on the socket of a compositor this clipboard had reached.
    std::optional<std::chrono::steady_clock::time_point> unheard_since_;
    std::optional<std::string> written_;
};

// A copy that failed: with an error kind of the layer, or by a failure raised on the
// calling thread (whose payload nothing can show).
using CopyFailure = std::variant<wlclip::copy::Error, AnyPayload>;
using CopyFunction = std::function<std::expected<void, wlclip::copy::Error>(std::string bytes)>;

// Offers `text` through `copy`, the layer's copy on one compositor; tests put a failing one in
// its place. A failure raised on this thread has its message printed on standard error and comes
// back as its payload instead of ending the worker.
std::expected<void, CopyFailure> catch_copy(std::string_view text, const CopyFunction& copy);

} // namespace quillfen
