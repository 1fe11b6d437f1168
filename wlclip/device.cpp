#include "wlclip/device.hpp"

namespace wlclip {

const zwlr_data_control_device_v1_listener Device::listener = {
    .data_offer = &Device::on_data_offer,
    .selection = &Device::on_selection,
    .finished = &Device::on_finished,
    .primary_selection = &Device::on_primary_selection,
};

Device::Device(zwlr_data_control_manager_v1* manager, wl_seat* seat)
    : proxy_(zwlr_data_control_manager_v1_get_data_device(manager, seat)) {
    if (proxy_)
        zwlr_data_control_device_v1_add_listener(proxy_.get(), &listener, this);
}

void Device::on_data_offer(void* data, zwlr_data_control_device_v1*,
                           zwlr_data_control_offer_v1* offer) {
    auto* self = static_cast<Device*>(data);
    self->introduced_.emplace(offer, std::make_unique<Offer>(offer));
}

void Device::on_selection(void* data, zwlr_data_control_device_v1*,
                          zwlr_data_control_offer_v1* offer) {
    auto* self = static_cast<Device*>(data);
    std::unique_ptr<Offer> current;
    if (auto it = self->introduced_.find(offer); it != self->introduced_.end())
        current = std::move(it->second);
    // Every other offer announced so far is out of date now.
    self->introduced_.clear();
    self->selection_ = std::move(current);
    ++self->selections_announced_;
}

void Device::on_finished(void* data, zwlr_data_control_device_v1*) {
    auto* self = static_cast<Device*>(data);
    self->selection_.reset();
    self->introduced_.clear();
    self->proxy_.reset();
}

// Sent only from version 2 on; the manager is bound at version 1.
void Device::on_primary_selection(void*, zwlr_data_control_device_v1*,
                                  zwlr_data_control_offer_v1*) {}

} // namespace wlclip
