#include "wlclip/source.hpp"

#include <fcntl.h>

namespace wlclip {

const zwlr_data_control_source_v1_listener Source::listener = {
    .send = &Source::on_send,
    .cancelled = &Source::on_cancelled,
};

Source::Source(zwlr_data_control_manager_v1* manager, std::span<const char* const> mime_types,
               SendHandler on_send)
    : proxy_(zwlr_data_control_manager_v1_create_data_source(manager)),
      on_send_(std::move(on_send)) {
    if (!proxy_)
        return;
    zwlr_data_control_source_v1_add_listener(proxy_.get(), &listener, this);
    for (const char* type : mime_types)
        zwlr_data_control_source_v1_offer(proxy_.get(), type);
}

void Source::on_send(void* data, zwlr_data_control_source_v1*, const char* mime_type,
                     std::int32_t fd) {
    util::UniqueFd write_end(fd);
    // libwayland receives descriptors close-on-exec already; make sure of it.
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    auto* self = static_cast<Source*>(data);
    if (self->proxy_ && self->on_send_)
        self->on_send_(mime_type, std::move(write_end));
}

void Source::on_cancelled(void* data, zwlr_data_control_source_v1*) {
    static_cast<Source*>(data)->proxy_.reset();
}

} // namespace wlclip
