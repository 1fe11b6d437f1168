#include "wlclip/offer.hpp"

namespace wlclip {

const zwlr_data_control_offer_v1_listener Offer::listener = {.offer = &Offer::on_offer};

Offer::Offer(zwlr_data_control_offer_v1* proxy) : proxy_(proxy) {
    zwlr_data_control_offer_v1_add_listener(proxy_.get(), &listener, this);
}

void Offer::on_offer(void* data, zwlr_data_control_offer_v1*, const char* mime_type) {
    static_cast<Offer*>(data)->mime_types_.emplace_back(mime_type);
}

void Offer::receive(const std::string& mime_type, util::UniqueFd write_end) {
    // The request carries a duplicate of the descriptor, so ours can go at once.
    zwlr_data_control_offer_v1_receive(proxy_.get(), mime_type.c_str(), write_end.get());
}

} // namespace wlclip
