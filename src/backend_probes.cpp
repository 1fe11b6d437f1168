// Discovery with the real backends.
#include "backend_probes.hpp"

#include <memory>
#include <utility>

#include "wlr_clipboard.hpp"
#include "x11_clipboard.hpp"

namespace quillfen {

Probes backend_probes() {
    return Probes{
        .wayland = [](std::string display) -> std::unique_ptr<Clipboard> {
            return std::make_unique<WlrClipboard>(std::move(display));
        },
        .x11 = [](std::string display) -> std::expected<std::unique_ptr<Clipboard>, MyError> {
            auto created = X11Clipboard::create(std::move(display));
            if (!created)
                return std::unexpected(std::move(created.error()));
            return std::unique_ptr<Clipboard>(std::move(*created));
        },
    };
}

std::expected<ClipboardList, MyError> get_clipboards() {
    return get_clipboards(backend_probes());
}

} // namespace quillfen
