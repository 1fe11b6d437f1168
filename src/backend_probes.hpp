// Discovery with the real backends: WlrClipboard and X11Clipboard.
#pragma once

#include <expected>

#include "clipboard.hpp"
#include "discovery.hpp"
#include "error.hpp"

namespace quillfen {

Probes backend_probes();

// get_clipboards(backend_probes()).
std::expected<ClipboardList, MyError> get_clipboards();

} // namespace quillfen
