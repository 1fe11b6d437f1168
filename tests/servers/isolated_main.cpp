// The entry of suites that look at every display: before anything else, while this process has
// one thread, it isolates itself from the machine's display servers, so that the code under test
// finds only those its test started.

#include <gtest/gtest.h>

#include "tests/servers/display_namespace.hpp"
#include "tests/servers/isolation.hpp"

namespace quillfen::test {

namespace {
std::string failure;
}

const std::string& isolation_failure() {
    return failure;
}

} // namespace quillfen::test

int main(int argc, char** argv) {
    quillfen::test::failure = quillfen::test::enter_private_display_namespace();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
