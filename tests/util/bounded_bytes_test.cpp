// Pieces joined in order across the blocks they are kept in, up to the limit and not past it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/bounded_bytes.hpp"

namespace util {
namespace {

constexpr std::size_t MiB = std::size_t{1} << 20;

// A piece that shows where it went: its own letter, `size` times.
std::string piece(char letter, std::size_t size) {
    return std::string(size, letter);
}

TEST(BoundedBytes, JoinsPiecesUpToTheLimitAndGivesUpPastIt) {
    struct Case {
        const char* what;
        std::size_t limit;
        std::vector<std::string> pieces;
        bool kept; // every piece appended; otherwise the last one passed the limit
    };
    const Case cases[] = {
        {"none", 10, {}, true},
        {"small pieces", 10, {"ab", "", "cde"}, true},
        {"exactly the limit", 5, {"abc", "de"}, true},
        {"one byte past", 5, {"abc", "def"}, false},
        {"one piece past", 5, {"abcdef"}, false},
        {"across blocks",
         20 * MiB,
         {piece('a', 3 * MiB), piece('b', 3 * MiB + 1), piece('c', 1), piece('d', 9 * MiB)},
         true},
        {"one piece of several blocks", 9 * MiB, {piece('a', 1), piece('b', 9 * MiB - 1)}, true},
        {"past the limit after several blocks",
         9 * MiB,
         {piece('a', 5 * MiB), piece('b', 4 * MiB), piece('c', 1)},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BoundedBytes bytes(c.limit);
        std::string expected;
        bool kept = true;
        for (const std::string& p : c.pieces) {
            kept = bytes.append(p);
            if (!kept)
                break;
            expected += p;
            EXPECT_EQ(bytes.size(), expected.size());
            EXPECT_EQ(bytes.room(), c.limit - expected.size());
        }
        EXPECT_EQ(kept, c.kept);
        if (!kept) {
            EXPECT_EQ(bytes.size(), 0u) << "what came before is freed";
            continue;
        }
        const std::string all = bytes.take();
        EXPECT_EQ(all.size(), expected.size());
        EXPECT_TRUE(all == expected);
    }
}

} // namespace
} // namespace util
