// Whether this test process could be isolated from the machine's own display servers (see
// isolated_main.cpp, the entry of the suites that look at every display).
#pragma once

#include <string>

namespace quillfen::test {

// Empty when isolated; otherwise why not.
const std::string& isolation_failure();

} // namespace quillfen::test
