// Bytes to UTF-8 text, as a Wayland read delivers them.
#pragma once

#include <string>
#include <string_view>

namespace quillfen {

// Valid UTF-8 stays as it is; each maximal ill-formed subpart becomes one U+FFFD.
std::string utf8_lossy(std::string_view bytes);
// Whether utf8_lossy would return `bytes` unchanged.
bool is_valid_utf8(std::string_view bytes);

} // namespace quillfen
