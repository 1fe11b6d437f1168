// Strict UTF-8 check for texts read from other clients.
#pragma once

#include <string_view>

namespace x11clip {

// Rejects overlong forms, surrogates, code points above U+10FFFF and truncated sequences.
bool is_valid_utf8(std::string_view bytes);

} // namespace x11clip
