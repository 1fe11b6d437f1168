// UTF-8 decoding under the two policies the clipboards need: strict, for X11, where bytes that are
// not UTF-8 read as the empty text; lossy, for Wayland, where each ill-formed part becomes U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace util {

inline constexpr char32_t replacement_character = U'\uFFFD';

// One sequence as it stands in the bytes.
struct Utf8Sequence {
    char32_t code;      // the code point; replacement_character when ill-formed
    std::size_t length; // bytes it covers; when ill-formed, its maximal ill-formed subpart (>= 1)
    bool valid;
};

namespace detail {

struct Lead {
    unsigned char length;               // bytes of the whole sequence; 0: not a lead byte
    unsigned char second_lo, second_hi; // the second byte's range excludes overlong forms,
                                        // surrogates and code points past U+10FFFF
    unsigned char payload;              // the lead byte's bits that belong to the code point
};

// The well-formed sequences by their lead byte; every byte not listed never leads.
struct LeadRange {
    unsigned char first, last;
    Lead lead;
};
inline constexpr LeadRange lead_ranges[] = {
    {0xC2, 0xDF, {2, 0x80, 0xBF, 0x1F}},
    {0xE0, 0xE0, {3, 0xA0, 0xBF, 0x0F}}, // no overlong forms
    {0xE1, 0xEC, {3, 0x80, 0xBF, 0x0F}},
    {0xED, 0xED, {3, 0x80, 0x9F, 0x0F}}, // no surrogates
    {0xEE, 0xEF, {3, 0x80, 0xBF, 0x0F}},
    {0xF0, 0xF0, {4, 0x90, 0xBF, 0x07}}, // no overlong forms
    {0xF1, 0xF3, {4, 0x80, 0xBF, 0x07}},
    {0xF4, 0xF4, {4, 0x80, 0x8F, 0x07}}, // nothing past U+10FFFF
};

// Indexed by the lead byte less 0x80: one load instead of a chain of comparisons per character.
struct LeadTable {
    Lead entries[128];
    constexpr LeadTable() : entries{} {
        for (const LeadRange& range : lead_ranges)
            for (unsigned b = range.first; b <= range.last; ++b)
                entries[b - 0x80] = range.lead;
    }
};
inline constexpr LeadTable leads;

} // namespace detail

// Decodes the sequence that starts at bytes[pos]; pos < bytes.size(). Inline: both policies run
// it once per non-ASCII character.
inline Utf8Sequence decode_utf8(std::string_view bytes, std::size_t pos) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + pos;
    const std::size_t left = bytes.size() - pos;
    const unsigned char b = p[0];
    if (b < 0x80)
        return {b, 1, true};
    const detail::Lead lead = detail::leads.entries[b - 0x80];
    if (lead.length == 0 || left < 2 || p[1] < lead.second_lo || p[1] > lead.second_hi)
        return {replacement_character, 1, false};
    const char32_t two = static_cast<char32_t>(b & lead.payload) << 6 | (p[1] & 0x3F);
    if (lead.length == 2)
        return {two, 2, true};
    if (left < 3 || (p[2] & 0xC0) != 0x80)
        return {replacement_character, 2, false};
    const char32_t three = two << 6 | (p[2] & 0x3F);
    if (lead.length == 3)
        return {three, 3, true};
    if (left < 4 || (p[3] & 0xC0) != 0x80)
        return {replacement_character, 3, false};
    return {three << 6 | (p[3] & 0x3F), 4, true};
}

// Strict: false for overlong forms, surrogates, code points above U+10FFFF and truncated
// sequences.
bool is_valid_utf8(std::string_view bytes);

// Lossy: valid UTF-8 stays as it is; each maximal ill-formed subpart becomes one U+FFFD.
std::string utf8_lossy(std::string_view bytes);

} // namespace util
