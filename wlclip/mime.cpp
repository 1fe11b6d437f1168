#include "wlclip/mime.hpp"

#include <algorithm>

namespace wlclip {

std::optional<std::string> choose_text_type(std::span<const std::string> offered) {
    // The plain text types by preference; markup and the like only when no plain text is offered.
    for (std::string_view preferred : {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain"})
        if (std::ranges::find(offered, preferred) != offered.end())
            return std::string(preferred);
    for (const std::string& type : offered)
        if (type == "TEXT" || type == "STRING")
            return type;
    for (const std::string& type : offered)
        if (type.starts_with("text/"))
            return type;
    return std::nullopt;
}

} // namespace wlclip
