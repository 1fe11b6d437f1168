// Which selection types carry text, so that a selection offering anything else (files, an image,
// formatted text) can be told from one that offers text alone. One rule for X11 targets and
// Wayland MIME types alike.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace util {

// UTF8_STRING, STRING, TEXT, COMPOUND_TEXT, "text/plain" and "text/plain;charset=…", whatever the
// charset.
bool is_text_type(std::string_view type);

// The selection protocol's own targets (TARGETS, TIMESTAMP, MULTIPLE, SAVE_TARGETS, DELETE and the
// like): they say nothing of what was copied.
bool is_protocol_target(std::string_view type);

// Whether a selection offering `types` offers something besides text.
bool offers_more_than_text(std::span<const std::string> types);

} // namespace util
