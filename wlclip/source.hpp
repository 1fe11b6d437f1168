// A data source this client offers as a seat's selection.
#pragma once

#include <functional>
#include <span>
#include <string>

#include "util/unique_fd.hpp"
#include "wlclip/protocol.hpp"

namespace wlclip {

class Source {
  public:
    // Called for every read request, with the requested type and the requester's write end.
    using SendHandler = std::function<void(const char* mime_type, util::UniqueFd write_end)>;

    Source(zwlr_data_control_manager_v1* manager, std::span<const char* const> mime_types,
           SendHandler on_send);
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    zwlr_data_control_source_v1* proxy() const noexcept { return proxy_.get(); }
    // Another selection replaced this one; the source serves no more requests.
    bool cancelled() const noexcept { return !proxy_; }

  private:
    static void on_send(void* data, zwlr_data_control_source_v1*, const char* mime_type,
                        std::int32_t fd);
    static void on_cancelled(void* data, zwlr_data_control_source_v1*);
    static const zwlr_data_control_source_v1_listener listener;

    Owned<zwlr_data_control_source_v1> proxy_;
    SendHandler on_send_;
};

} // namespace wlclip
