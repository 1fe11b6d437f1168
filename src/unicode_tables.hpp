// Character classes for quoting texts in debug texts, as sorted ranges of
// code points (generated at build time).
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>

namespace quillfen::unicode {

struct Range {
    char32_t first;
    char32_t last;
};

extern const Range not_printable[];
extern const std::size_t not_printable_count;
extern const Range grapheme_extend[];
extern const std::size_t grapheme_extend_count;

inline bool in_ranges(const Range* ranges, std::size_t count, char32_t code) {
    const std::span<const Range> table(ranges, count);
    const auto it = std::upper_bound(table.begin(), table.end(), code,
                                     [](char32_t c, const Range& r) { return c < r.first; });
    return it != table.begin() && code <= std::prev(it)->last;
}

inline bool is_printable(char32_t code) {
    return !in_ranges(not_printable, not_printable_count, code);
}

// A combining character that extends the one before it.
inline bool extends_previous(char32_t code) {
    return in_ranges(grapheme_extend, grapheme_extend_count, code);
}

} // namespace quillfen::unicode
