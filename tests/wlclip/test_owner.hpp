// A selection owner made of the layer's own pieces, for offers that wl-copy cannot make:
// chosen types in a chosen order, an answer per type, or no answer at all.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "wlclip/connection.hpp"
#include "wlclip/device.hpp"
#include "wlclip/globals.hpp"
#include "wlclip/source.hpp"
#include "wlclip/wlclip.hpp"

namespace quillfen::test {

class TestOwner {
  public:
    // Called on the owner's thread for every read request.
    using Handler = std::function<void(const std::string& mime_type, util::UniqueFd write_end)>;

    // Takes the first seat's selection in the compositor at `address` and returns once the
    // compositor has processed that. Throws std::runtime_error on failure.
    TestOwner(wlclip::Address address, std::vector<std::string> mime_types, Handler on_send);
    ~TestOwner();
    TestOwner(const TestOwner&) = delete;
    TestOwner& operator=(const TestOwner&) = delete;

  private:
    void dispatch_until_stopped();

    Handler on_send_;
    std::optional<wlclip::Connection> connection_;
    std::optional<wlclip::Globals> globals_;
    std::optional<wlclip::Device> device_;
    std::optional<wlclip::Source> source_;
    util::UniqueFd stop_;
    std::thread thread_;
};

} // namespace quillfen::test
