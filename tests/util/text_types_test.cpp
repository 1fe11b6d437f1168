// What a file manager, a browser, an office program and a plain text editor offer, and whether
// each is text alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/text_types.hpp"

namespace util {
namespace {

struct Offer {
    const char* what;
    std::vector<std::string> types;
    bool more_than_text;
};

const Offer offers[] = {
    {"nothing", {}, false},
    {"an editor's text",
     {"TIMESTAMP", "TARGETS", "MULTIPLE", "SAVE_TARGETS", "UTF8_STRING", "COMPOUND_TEXT", "TEXT",
      "STRING", "text/plain;charset=utf-8", "text/plain"},
     false},
    {"a terminal's text", {"TARGETS", "UTF8_STRING", "TEXT", "STRING"}, false},
    {"our own offer",
     {"text/plain;charset=utf-8", "text/plain", "STRING", "UTF8_STRING", "TEXT"},
     false},
    {"another charset, in other case", {"Text/Plain; Charset=UTF-16", "DELETE"}, false},
    {"files from a file manager",
     {"TARGETS", "x-special/gnome-copied-files", "text/uri-list", "UTF8_STRING"},
     true},
    {"an image beside HTML", {"TARGETS", "image/png", "text/html"}, true},
    {"formatted text", {"text/html", "text/plain"}, true},
    {"a spreadsheet's cells",
     {"TARGETS", "application/x-openoffice-embed-source-xml", "text/plain;charset=utf-8"},
     true},
    {"a text type that only looks plain", {"text/plainer", "UTF8_STRING"}, true},
    {"a charset without a value", {"text/plain;charset="}, true},
    {"another parameter", {"text/plain;format=flowed"}, true},
};

TEST(TextTypes, TellsTextAloneFromMore) {
    for (const Offer& offer : offers)
        EXPECT_EQ(offers_more_than_text(offer.types), offer.more_than_text) << offer.what;
}

} // namespace
} // namespace util
