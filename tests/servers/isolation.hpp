// Whether this test process could be isolated from the machine's own display servers (see
// isolated_main.cpp, the entry of the suites that look at every display).
#pragma once

#include <string>

namespace quillfen::test {

// Empty when isolated; otherwise why not.
const std::string& isolation_failure();

} // namespace quillfen::test

// Skips the test (from SetUp or its body) when this process could not be isolated.
#define SKIP_UNLESS_ISOLATED()                                                                     \
    if (!::quillfen::test::isolation_failure().empty())                                            \
    GTEST_SKIP() << "cannot isolate from the machine's display servers: "                          \
                 << ::quillfen::test::isolation_failure()
