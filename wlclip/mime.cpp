#include "wlclip/mime.hpp"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace wlclip {

namespace {

std::string_view trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return std::ranges::equal(
        a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

// A type whose charset parameter names anything but UTF-8 (or ASCII, a subset of it): the bytes
// would reach the other clipboards as if they were UTF-8.
bool names_another_charset(std::string_view type) {
    for (auto semicolon = type.find(';'); semicolon != std::string_view::npos;) {
        type.remove_prefix(semicolon + 1);
        semicolon = type.find(';');
        const std::string_view parameter = type.substr(0, semicolon);
        const auto equals = parameter.find('=');
        if (equals == std::string_view::npos ||
            !equal_ignoring_case(trimmed(parameter.substr(0, equals)), "charset"))
            continue;
        std::string_view value = trimmed(parameter.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        return !std::ranges::any_of(
            std::initializer_list<std::string_view>{"utf-8", "utf8", "us-ascii"},
            [&](std::string_view utf8) { return equal_ignoring_case(value, utf8); });
    }
    return false;
}

} // namespace

std::optional<std::string> choose_text_type(std::span<const std::string> offered) {
    // The plain text types by preference; markup and the like only when no plain text is offered.
    for (std::string_view preferred : {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain"})
        if (std::ranges::find(offered, preferred) != offered.end())
            return std::string(preferred);
    for (const std::string& type : offered)
        if (type == "TEXT" || type == "STRING")
            return type;
    for (const std::string& type : offered)
        if (type.starts_with("text/") && !names_another_charset(type))
            return type;
    return std::nullopt;
}

} // namespace wlclip
