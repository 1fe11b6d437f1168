// Which MIME types count as text, and which ones a copy offers.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>

namespace wlclip {

// "text/plain;charset=utf-8", else "UTF8_STRING", else "text/plain", else the first of "TEXT" and
// "STRING", else the first "text/" type; nothing when no offered type is text. A type with a
// charset other than UTF-8 ("utf8" and "us-ascii" count as UTF-8) is not text here.
std::optional<std::string> choose_text_type(std::span<const std::string> offered);

inline constexpr std::array<const char*, 5> copy_mime_types = {
    "text/plain;charset=utf-8", "text/plain", "STRING", "UTF8_STRING", "TEXT",
};

} // namespace wlclip
