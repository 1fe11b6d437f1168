// The one place that includes the generated data-control protocol code, together with
// owning pointers for every protocol object the layer uses.
#pragma once

#include <wayland-client.h>

#include <memory>

#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace wlclip {

struct ProxyDeleter {
    void operator()(wl_registry* p) const { wl_registry_destroy(p); }
    void operator()(wl_seat* p) const { wl_seat_destroy(p); }
    void operator()(wl_callback* p) const { wl_callback_destroy(p); }
    void operator()(zwlr_data_control_manager_v1* p) const {
        zwlr_data_control_manager_v1_destroy(p);
    }
    void operator()(zwlr_data_control_device_v1* p) const {
        zwlr_data_control_device_v1_destroy(p);
    }
    void operator()(zwlr_data_control_source_v1* p) const {
        zwlr_data_control_source_v1_destroy(p);
    }
    void operator()(zwlr_data_control_offer_v1* p) const { zwlr_data_control_offer_v1_destroy(p); }
};

// A protocol object this side owns; destroying it sends the destructor request if the
// interface has one. Must go before the connection it belongs to.
template <class T>
using Owned = std::unique_ptr<T, ProxyDeleter>;

inline constexpr const char* manager_interface_name = "zwlr_data_control_manager_v1";
inline constexpr unsigned manager_version = 1;
inline constexpr unsigned min_seat_version = 2;

} // namespace wlclip
