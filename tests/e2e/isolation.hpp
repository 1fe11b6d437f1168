// Whether this process could be isolated from the machine's own display servers.
#pragma once

#include <string>

namespace quillfen::testing {

// Empty when isolated; otherwise why not.
const std::string& isolation_failure();

} // namespace quillfen::testing
