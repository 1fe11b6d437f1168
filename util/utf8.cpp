#include "util/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace util {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

// Texts are mostly ASCII: skipped eight bytes at a time from `i` on, up to the first word that
// holds a byte of another kind (or the last few bytes).
std::size_t skip_ascii(std::string_view bytes, std::size_t i) {
    while (i + 8 <= bytes.size()) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + i, sizeof word);
        if ((word & 0x8080808080808080u) != 0)
            break;
        i += 8;
    }
    return i;
}

// Walks the bytes sequence by sequence and hands every ill-formed part, in order, to
// `on_ill_formed(position, sequence)` until it returns false. The two policies differ only there.
template <class OnIllFormed>
void walk(std::string_view bytes, OnIllFormed on_ill_formed) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            i = skip_ascii(bytes, i + 1);
            continue;
        }
        const Utf8Sequence sequence = decode_utf8(bytes, i);
        if (!sequence.valid && !on_ill_formed(i, sequence))
            return;
        i += sequence.length;
    }
}

} // namespace

bool is_valid_utf8(std::string_view bytes) {
    bool valid = true;
    walk(bytes, [&valid](std::size_t, const Utf8Sequence&) {
        valid = false; // the first ill-formed part decides
        return false;
    });
    return valid;
}

std::string utf8_lossy(std::string_view bytes) {
    std::string text;
    std::size_t copied = 0; // bytes before `copied` are in `text`
    walk(bytes, [&](std::size_t at, const Utf8Sequence& sequence) {
        if (text.empty())
            text.reserve(bytes.size() + 2);
        text.append(bytes.substr(copied, at - copied));
        text.append(replacement);
        copied = at + sequence.length;
        return true;
    });
    if (copied == 0)
        return std::string(bytes); // valid throughout: one copy
    text.append(bytes.substr(copied));
    return text;
}

} // namespace util
