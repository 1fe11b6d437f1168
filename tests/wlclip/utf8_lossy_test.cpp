// Each maximal ill-formed subpart becomes one U+FFFD; valid text passes unchanged.
#include <gtest/gtest.h>

#include "utf8_lossy.hpp"

namespace quillfen {
namespace {

TEST(Utf8Lossy, ReplacesEachMaximalIllFormedSubpart) {
    const std::string r = "\xEF\xBF\xBD";
    struct Case {
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"", ""},
        {"plain ascii\n", "plain ascii\n"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF",
         "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"},
        {"\xFF", r},
        {"a\x80"
         "b",
         "a" + r + "b"},
        {"\xE2\x82", r}, // truncated at the end
        {"\xE2\x82"
         "a",
         r + "a"},                           // cut short by a valid character
        {"\xC0\xAF", r + r},                 // overlong: C0 never leads
        {"\xE0\x80\xAF", r + r + r},         // overlong three-byte form
        {"\xED\xA0\x80", r + r + r},         // a surrogate
        {"\xF0\x80\x80", r + r + r},         // overlong four-byte form
        {"\xF4\x90\x80\x80", r + r + r + r}, // past U+10FFFF
        {"\xF1\x80\x80", r},                 // one truncated sequence, one replacement
        {"\xF1\x80\x80\xE1\x80\xC2", r + r + r},
        // The standard's own example of the practice.
        {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
         "a" + r + r + r + "b" + r + "c" + r + r + "d"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(utf8_lossy(c.bytes), c.text) << ::testing::PrintToString(c.bytes);
}

} // namespace
} // namespace quillfen
