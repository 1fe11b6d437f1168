#include "utf8_lossy.hpp"

#include <cstdint>
#include <cstring>

namespace quillfen {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

struct Lead {
    int length;                         // bytes of the whole sequence; 0: not a lead byte
    unsigned char second_lo, second_hi; // the second byte's range excludes overlong
                                        // forms, surrogates and code points past U+10FFFF
};

Lead lead_of(unsigned char b) {
    if (b >= 0xC2 && b <= 0xDF)
        return {2, 0x80, 0xBF};
    if (b == 0xE0)
        return {3, 0xA0, 0xBF};
    if (b == 0xED)
        return {3, 0x80, 0x9F};
    if (b >= 0xE1 && b <= 0xEF)
        return {3, 0x80, 0xBF};
    if (b == 0xF0)
        return {4, 0x90, 0xBF};
    if (b == 0xF4)
        return {4, 0x80, 0x8F};
    if (b >= 0xF1 && b <= 0xF3)
        return {4, 0x80, 0xBF};
    return {0, 0, 0};
}

// From `i` on, the position of the first byte that starts no valid sequence, or the end;
// `bad` is then the length of the maximal ill-formed subpart there.
std::size_t next_ill_formed(std::string_view bytes, std::size_t i, std::size_t& bad) {
    while (i < bytes.size()) {
        // Texts are mostly ASCII: skip it eight bytes at a time.
        while (i + 8 <= bytes.size()) {
            std::uint64_t word;
            std::memcpy(&word, bytes.data() + i, sizeof word);
            if ((word & 0x8080808080808080u) != 0)
                break;
            i += 8;
        }
        if (i >= bytes.size())
            break;
        auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        Lead lead = lead_of(b);
        // How many bytes from i on form a valid start of a sequence.
        std::size_t valid = lead.length ? 1 : 0;
        while (valid > 0 && valid < static_cast<std::size_t>(lead.length) &&
               i + valid < bytes.size()) {
            auto c = static_cast<unsigned char>(bytes[i + valid]);
            bool fits = valid == 1 ? (c >= lead.second_lo && c <= lead.second_hi)
                                   : (c >= 0x80 && c <= 0xBF);
            if (!fits)
                break;
            ++valid;
        }
        if (lead.length && valid == static_cast<std::size_t>(lead.length)) {
            i += valid;
            continue;
        }
        bad = valid ? valid : 1;
        return i;
    }
    return bytes.size();
}

} // namespace

std::string utf8_lossy(std::string_view bytes) {
    std::string text;
    std::size_t copied = 0; // bytes[copied, i) are valid and not yet in `text`
    std::size_t bad = 0;
    for (std::size_t i = next_ill_formed(bytes, 0, bad); i < bytes.size();
         i = next_ill_formed(bytes, copied, bad)) {
        if (text.empty())
            text.reserve(bytes.size() + 2);
        text.append(bytes.substr(copied, i - copied));
        text.append(replacement);
        copied = i + bad;
    }
    if (copied == 0)
        return std::string(bytes); // valid throughout: one copy
    text.append(bytes.substr(copied));
    return text;
}

bool is_valid_utf8(std::string_view bytes) {
    std::size_t bad = 0;
    return next_ill_formed(bytes, 0, bad) == bytes.size();
}

} // namespace quillfen
