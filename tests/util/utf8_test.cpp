// Both policies over one table: the strict check says whether the bytes are UTF-8, the lossy
// conversion replaces each maximal ill-formed subpart with one U+FFFD.
#include <gtest/gtest.h>

#include <string>

#include "util/utf8.hpp"

namespace util {
namespace {

const std::string r = "\xEF\xBF\xBD";

struct Case {
    std::string bytes;
    std::string lossy;
};

const Case cases[] = {
    {"", ""},
    {"plain ascii\n", "plain ascii\n"},
    {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF",
     "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"},
    {"longer than eight bytes of ascii, then \xC3\xA9",
     "longer than eight bytes of ascii, then \xC3\xA9"},
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
    {"eight ascii bytes first\xF0\x9F\x98", "eight ascii bytes first" + r},
    // The standard's own example of the practice.
    {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
     "a" + r + r + r + "b" + r + "c" + r + r + "d"},
};

TEST(Utf8, LossyReplacesEachMaximalIllFormedSubpart) {
    for (const Case& c : cases)
        EXPECT_EQ(utf8_lossy(c.bytes), c.lossy) << ::testing::PrintToString(c.bytes);
}

TEST(Utf8, StrictTakesExactlyWhatLossyLeavesUnchanged) {
    for (const Case& c : cases)
        EXPECT_EQ(is_valid_utf8(c.bytes), c.bytes == c.lossy) << ::testing::PrintToString(c.bytes);
}

TEST(Utf8, DecodesCodePointsAndMeasuresIllFormedParts) {
    struct Step {
        std::string bytes;
        Utf8Sequence expected;
    };
    const Step steps[] = {
        {"A", {U'A', 1, true}},
        {"\xC3\xA9", {U'\u00E9', 2, true}},
        {"\xE2\x82\xAC", {U'\u20AC', 3, true}},
        {"\xF0\x9F\x98\x80", {U'\U0001F600', 4, true}},
        {"\xF4\x8F\xBF\xBF", {U'\U0010FFFF', 4, true}},
        {"\x80", {replacement_character, 1, false}},
        {"\xE2\x82"
         "a",
         {replacement_character, 2, false}},
        {"\xF1\x80\x80", {replacement_character, 3, false}},
        {"\xE0\x80", {replacement_character, 1, false}},
    };
    for (const Step& s : steps) {
        const Utf8Sequence got = decode_utf8(s.bytes, 0);
        EXPECT_EQ(got.code, s.expected.code) << ::testing::PrintToString(s.bytes);
        EXPECT_EQ(got.length, s.expected.length) << ::testing::PrintToString(s.bytes);
        EXPECT_EQ(got.valid, s.expected.valid) << ::testing::PrintToString(s.bytes);
    }
}

} // namespace
} // namespace util
