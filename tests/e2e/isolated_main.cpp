// The tests' entry: before anything else, while this process has one thread, it isolates itself
// from the machine's display servers, so that the service finds only those its test started.

#include "isolation.hpp"
#include "tests/servers/display_namespace.hpp"

#include <gtest/gtest.h>

namespace quillfen::testing {

namespace {
std::string failure;
}

const std::string& isolation_failure() {
    return failure;
}

} // namespace quillfen::testing

int main(int argc, char** argv) {
    quillfen::testing::failure = quillfen::test::enter_private_display_namespace();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
