#include "clipboard.hpp"

#include <chrono>
#include <thread>

namespace quillfen {

std::expected<std::string, MyError> Clipboard::watch() {
    auto first = get();
    if (!first)
        return first;
    for (;;) {
        auto text = get();
        if (!text || *text != *first)
            return text;
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}

std::expected<bool, MyError> Clipboard::holds_own_text() {
    return false;
}

std::expected<Content, MyError> Clipboard::read() {
    auto text = get();
    if (!text)
        return std::unexpected(std::move(text.error()));
    return Content{std::move(*text)};
}

void Clipboard::finish_serving(std::chrono::steady_clock::time_point) {}

CutTransfers Clipboard::wait_for_serving(std::chrono::steady_clock::time_point) {
    return {};
}

} // namespace quillfen
