// Replies and events as libxcb hands them over, and the type of an event.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace x11clip {

// Replies and events come from libxcb in malloc'd memory.
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using XcbPtr = std::unique_ptr<T, FreeDeleter>;
using EventPtr = XcbPtr<xcb_generic_event_t>;

// The event's type without the bit that marks one sent by a client; 0 is an X error.
inline std::uint8_t event_type(const xcb_generic_event_t& event) {
    return event.response_type & 0x7f;
}

} // namespace x11clip
