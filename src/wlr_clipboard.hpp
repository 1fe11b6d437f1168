// The clipboard of one wlroots compositor: its regular selection, through the data-control
// layer in wlclip/. Holds nothing but the socket name; every call connects anew.
#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include "clipboard.hpp"
#include "wlclip/wlclip.hpp"

namespace quillfen {

class WlrClipboard final : public Clipboard {
  public:
    explicit WlrClipboard(std::string display) : display_(std::move(display)) {}

    void debug_fmt(Formatter& f) const override;
    std::string display() const override { return display_; }
    std::expected<std::string, MyError> get() override;
    std::expected<void, MyError> set(std::string_view text) override;

  private:
    std::string display_;
};

// A copy that failed: with an error kind of the layer, or by a failure raised on the
// calling thread (whose payload nothing can show).
using CopyFailure = std::variant<wlclip::copy::Error, AnyPayload>;
using CopyFunction = std::expected<void, wlclip::copy::Error> (*)(std::string bytes);

// Offers `text` on the compositor the environment names. A failure raised on this thread
// has its message printed on standard error and comes back as its payload instead of
// ending the worker. `copy` is the layer's copy; tests put a failing one in its place.
std::expected<void, CopyFailure> catch_copy(std::string_view text,
                                            CopyFunction copy = wlclip::copy_text);

} // namespace quillfen
