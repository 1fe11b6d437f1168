// Reading and offering the regular selection of a wlroots compositor through the
// data-control protocol. The compositor is the one the environment names
// (WAYLAND_SOCKET, else WAYLAND_DISPLAY under XDG_RUNTIME_DIR).
#pragma once

#include <chrono>
#include <expected>
#include <memory>
#include <string>

#include "util/unique_fd.hpp"
#include "wlclip/error.hpp"

namespace wlclip {

// A compositor that does not answer within this long is taken to be hung.
inline constexpr std::chrono::milliseconds round_trip_limit{3000};
// A selection owner that sends nothing for this long is taken to be stuck.
inline constexpr std::chrono::milliseconds pipe_idle_limit{2000};
// A read of the selection is given up when its transfer takes longer than this in all: an owner
// that never stops writing would otherwise grow the reader without end.
inline constexpr std::chrono::milliseconds read_limit{2000};
// How long a copy waits for its serving thread to come up: a connect and two round trips,
// each bounded by round_trip_limit, with room to spare.
inline constexpr std::chrono::milliseconds copy_report_limit =
    3 * round_trip_limit + std::chrono::milliseconds(1000);

struct Contents {
    util::UniqueFd pipe; // read end, blocking and close-on-exec; end of data when the owner closes
    std::string mime_type;
};

// Asks the owner of the first seat's selection for its content as text. The connection
// is closed before this returns; the content then comes from the owner alone.
std::expected<Contents, paste::Error> get_contents();

// Reads `fd` to its end; ETIMEDOUT when no data came for `idle_limit`, or when the end has not
// come within `whole_limit`.
std::expected<std::string, IoError> read_to_end(int fd,
                                                std::chrono::milliseconds idle_limit = pipe_idle_limit,
                                                std::chrono::milliseconds whole_limit = read_limit);

// Offers `bytes` as text on every seat from a background thread, which serves every
// request until the compositor cancels the offer, closes its connection, finishes the
// transfers under way (each given up after pipe_idle_limit without progress) and ends.
// Returns once the compositor has processed the selection request. Throws when the
// thread cannot be started or ends without reporting.
std::expected<void, copy::Error> copy_text(std::string bytes);

// The bytes this process offers on the compositor the environment names, while that offer
// is still the first seat's selection there (the serving connection has answered a round
// trip since the question); none otherwise, and none for WAYLAND_SOCKET.
std::shared_ptr<const std::string> own_selection();

} // namespace wlclip
