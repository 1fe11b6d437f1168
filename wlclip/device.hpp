// A seat's data-control device: follows the seat's regular selection.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "wlclip/offer.hpp"
#include "wlclip/protocol.hpp"

namespace wlclip {

class Device {
  public:
    Device(zwlr_data_control_manager_v1* manager, wl_seat* seat);
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    zwlr_data_control_device_v1* proxy() const noexcept { return proxy_.get(); }
    // The current selection, or null when the seat has none (or none was announced yet).
    Offer* selection() const noexcept { return selection_.get(); }
    // The compositor has withdrawn the device (its seat went away).
    bool finished() const noexcept { return !proxy_; }
    // How many selections the compositor has announced so far: a new one, even of an offer at
    // the address of an old one, is a change.
    std::uint64_t selections_announced() const noexcept { return selections_announced_; }

  private:
    static void on_data_offer(void* data, zwlr_data_control_device_v1*,
                              zwlr_data_control_offer_v1* offer);
    static void on_selection(void* data, zwlr_data_control_device_v1*,
                             zwlr_data_control_offer_v1* offer);
    static void on_finished(void* data, zwlr_data_control_device_v1*);
    static void on_primary_selection(void* data, zwlr_data_control_device_v1*,
                                     zwlr_data_control_offer_v1* offer);
    static const zwlr_data_control_device_v1_listener listener;

    // Offers are destroyed before the device proxy that introduced them.
    Owned<zwlr_data_control_device_v1> proxy_;
    std::map<zwlr_data_control_offer_v1*, std::unique_ptr<Offer>> introduced_;
    std::unique_ptr<Offer> selection_;
    std::uint64_t selections_announced_ = 0;
};

} // namespace wlclip
