// An offer of the selection by another client: the MIME types it announced.
#pragma once

#include <string>
#include <vector>

#include "util/unique_fd.hpp"
#include "wlclip/protocol.hpp"

namespace wlclip {

class Offer {
  public:
    explicit Offer(zwlr_data_control_offer_v1* proxy); // takes ownership
    Offer(const Offer&) = delete;
    Offer& operator=(const Offer&) = delete;

    const std::vector<std::string>& mime_types() const noexcept { return mime_types_; }
    // Asks the owner to write the content in `mime_type` into `write_end`, which is
    // closed here once the request is queued.
    void receive(const std::string& mime_type, util::UniqueFd write_end);
    zwlr_data_control_offer_v1* proxy() const noexcept { return proxy_.get(); }

  private:
    static void on_offer(void* data, zwlr_data_control_offer_v1*, const char* mime_type);
    static const zwlr_data_control_offer_v1_listener listener;
    Owned<zwlr_data_control_offer_v1> proxy_;
    std::vector<std::string> mime_types_;
};

} // namespace wlclip
