// The suites still in the old test namespace reach the shared capture through here.
#pragma once

#include "tests/servers/captured_output.hpp"

namespace quillfen::testing {
using test::CapturedOutput;
}
