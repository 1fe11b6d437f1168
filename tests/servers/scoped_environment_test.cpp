// The environment a test changes is the one it found again once the test is over.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "tests/servers/scoped_environment.hpp"

namespace quillfen::test {
namespace {

TEST(ScopedEnvironment, PutsBackEveryVariableAsItWasBeforeTheFirstChange) {
    ::setenv("QUILLFEN_TEST_WAS_SET", "before", 1);
    ::setenv("QUILLFEN_TEST_UNSET_HERE", "kept", 1);
    ::unsetenv("QUILLFEN_TEST_WAS_UNSET");
    {
        ScopedEnvironment environment;
        environment.set("QUILLFEN_TEST_WAS_SET", "first");
        environment.set("QUILLFEN_TEST_WAS_SET", "second");
        environment.set("QUILLFEN_TEST_WAS_UNSET", "first");
        environment.unset("QUILLFEN_TEST_WAS_UNSET");
        environment.set("QUILLFEN_TEST_WAS_UNSET", "second");
        environment.unset("QUILLFEN_TEST_UNSET_HERE");
        EXPECT_STREQ(::getenv("QUILLFEN_TEST_WAS_SET"), "second");
        EXPECT_STREQ(::getenv("QUILLFEN_TEST_WAS_UNSET"), "second");
        EXPECT_EQ(::getenv("QUILLFEN_TEST_UNSET_HERE"), nullptr);
    }
    EXPECT_STREQ(::getenv("QUILLFEN_TEST_WAS_SET"), "before");
    EXPECT_EQ(::getenv("QUILLFEN_TEST_WAS_UNSET"), nullptr);
    EXPECT_STREQ(::getenv("QUILLFEN_TEST_UNSET_HERE"), "kept");
    ::unsetenv("QUILLFEN_TEST_WAS_SET");
    ::unsetenv("QUILLFEN_TEST_UNSET_HERE");
}

} // namespace
} // namespace quillfen::test
