// The structural-text writer on its own: quoting, escapes, and both forms of
// tuples, structures, lists and optionals.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "debug_text.hpp"

namespace quillfen {
namespace {

struct QuoteCase {
    std::string input;
    std::string quoted;
};
void PrintTo(const QuoteCase& c, std::ostream* os) {
    *os << ::testing::PrintToString(c.input);
}

class Quoting : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(Quoting, EscapesExactly) {
    EXPECT_EQ(debug_text(GetParam().input), GetParam().quoted);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Quoting,
    ::testing::Values(
        QuoteCase{"", R"("")"}, QuoteCase{"plain text", R"("plain text")"},
        QuoteCase{"a\"b", R"("a\"b")"}, QuoteCase{"a\\b", R"("a\\b")"},
        QuoteCase{"line\nfeed", R"("line\nfeed")"}, QuoteCase{"tab\there", R"("tab\there")"},
        QuoteCase{"cr\rhere", R"("cr\rhere")"},
        QuoteCase{std::string("nul\0here", 8), R"("nul\0here")"}, QuoteCase{"it's", R"("it's")"},
        // e followed by a combining acute accent; the precomposed é stays.
        QuoteCase{"e\xCC\x81", R"("e\u{301}")"}, QuoteCase{"\xC3\xA9", "\"\xC3\xA9\""},
        QuoteCase{"bell\x07", R"("bell\u{7}")"}, QuoteCase{"esc\x1b[0m", R"("esc\u{1b}[0m")"},
        QuoteCase{"del\x7f", R"("del\u{7f}")"},
        QuoteCase{"zero\xE2\x80\x8Bwidth", R"("zero\u{200b}width")"},
        QuoteCase{"emoji \xF0\x9F\x98\x80", "\"emoji \xF0\x9F\x98\x80\""},
        QuoteCase{"\xE6\x97\xA5\xE6\x9C\xAC", "\"\xE6\x97\xA5\xE6\x9C\xAC\""},
        // Bytes that are not UTF-8 show one U+FFFD each.
        QuoteCase{"\xE2\x82"
                  "a",
                  "\"\xEF\xBF\xBD\xEF\xBF\xBD"
                  "a\""},
        QuoteCase{"\xC0\xAF\xFF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        QuoteCase{"\xF0\x9F\x98", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        QuoteCase{"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""}));

struct Pair {
    int number;
    std::string text;
};
void debug_fmt(Formatter& f, const Pair& p) {
    f.debug_tuple("Pair").field(p.number).field(p.text).finish();
}

struct Record {
    std::vector<Pair> pairs;
    std::optional<bool> flag;
};
void debug_fmt(Formatter& f, const Record& r) {
    f.debug_struct("Record").field("pairs", r.pairs).field("flag", r.flag).finish();
}

struct Unit {};
void debug_fmt(Formatter& f, const Unit&) {
    f.debug_struct("Unit").finish();
}

TEST(DebugForms, OneLine) {
    EXPECT_EQ(debug_text(Pair{1, "a"}), R"(Pair(1, "a"))");
    EXPECT_EQ(debug_text(Record{{{1, "a"}, {-2, ""}}, true}),
              R"(Record { pairs: [Pair(1, "a"), Pair(-2, "")], flag: Some(true) })");
    EXPECT_EQ(debug_text(Record{{}, std::nullopt}), "Record { pairs: [], flag: None }");
    EXPECT_EQ(debug_text(Unit{}), "Unit");
    EXPECT_EQ(debug_text(std::vector<Unit>{Unit{}, Unit{}}), "[Unit, Unit]");
    EXPECT_EQ(debug_text(std::make_unique<Pair>(Pair{3, "x"})), R"(Pair(3, "x"))");
}

TEST(DebugForms, Alternate) {
    EXPECT_EQ(alternate_debug_text(std::vector<Unit>{}), "[]");
    EXPECT_EQ(alternate_debug_text(std::vector<Unit>{Unit{}}), "[\n    Unit,\n]");
    EXPECT_EQ(alternate_debug_text(Unit{}), "Unit");
    EXPECT_EQ(alternate_debug_text(Record{{{1, "a"}}, false}), "Record {\n"
                                                               "    pairs: [\n"
                                                               "        Pair(\n"
                                                               "            1,\n"
                                                               "            \"a\",\n"
                                                               "        ),\n"
                                                               "    ],\n"
                                                               "    flag: Some(\n"
                                                               "        false,\n"
                                                               "    ),\n"
                                                               "}");
    EXPECT_EQ(alternate_debug_text(Record{{}, std::nullopt}), "Record {\n"
                                                              "    pairs: [],\n"
                                                              "    flag: None,\n"
                                                              "}");
}

} // namespace
} // namespace quillfen
