#include "x11clip/x11clip.hpp"

#include "x11clip/connection.hpp"
#include "x11clip/owner.hpp"
#include "x11clip/reader.hpp"

namespace x11clip {

struct Clipboard::Parts {
    Connection reading;
    std::unique_ptr<Owner> owner;
};

Clipboard::Clipboard(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}
Clipboard::Clipboard(Clipboard&&) noexcept = default;
Clipboard& Clipboard::operator=(Clipboard&&) noexcept = default;
Clipboard::~Clipboard() = default;

std::expected<Clipboard, ClipboardError> Clipboard::create() {
    auto reading = Connection::open();
    if (!reading)
        return std::unexpected(std::move(reading.error()));
    auto serving = Connection::open();
    if (!serving)
        return std::unexpected(std::move(serving.error()));
    auto owner = Owner::start(std::move(*serving));
    if (!owner)
        return std::unexpected(std::move(owner.error()));
    return Clipboard(std::make_unique<Parts>(Parts{std::move(*reading), std::move(*owner)}));
}

std::expected<std::string, ClipboardError> Clipboard::get_string() {
    return read_clipboard(parts_->reading);
}

std::expected<void, ClipboardError> Clipboard::set_string(std::string_view text) {
    return parts_->owner->serve(text);
}

} // namespace x11clip
