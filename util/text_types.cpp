#include "util/text_types.hpp"

#include <algorithm>
#include <array>
#include <cctype>

namespace util {

namespace {

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return std::ranges::equal(
        a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

} // namespace

bool is_text_type(std::string_view type) {
    static constexpr std::array<std::string_view, 4> x11_text = {"UTF8_STRING", "STRING", "TEXT",
                                                                 "COMPOUND_TEXT"};
    if (std::ranges::find(x11_text, type) != x11_text.end())
        return true;
    // MIME types and their parameter names are not case-sensitive.
    constexpr std::string_view plain = "text/plain";
    if (type.size() < plain.size() || !equal_ignoring_case(type.substr(0, plain.size()), plain))
        return false;
    std::string_view rest = type.substr(plain.size());
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    if (rest.empty())
        return true;
    if (rest.front() != ';')
        return false;
    rest.remove_prefix(1);
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    constexpr std::string_view charset = "charset=";
    return rest.size() > charset.size() &&
           equal_ignoring_case(rest.substr(0, charset.size()), charset);
}

bool is_protocol_target(std::string_view type) {
    static constexpr std::array<std::string_view, 9> targets = {
        "TARGETS",          "TIMESTAMP",       "MULTIPLE", "SAVE_TARGETS", "DELETE",
        "INSERT_SELECTION", "INSERT_PROPERTY", "INCR",     "LENGTH"};
    return std::ranges::find(targets, type) != targets.end();
}

bool offers_more_than_text(std::span<const std::string> types) {
    return std::ranges::any_of(
        types,
        [](const std::string& type) { return !is_text_type(type) && !is_protocol_target(type); });
}

} // namespace util
