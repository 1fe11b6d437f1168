// Reading and offering the regular selection of a wlroots compositor through the
// data-control protocol.
#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "util/unique_fd.hpp"
#include "wlclip/address.hpp"
#include "wlclip/error.hpp"
#include "wlclip/transfers.hpp"

namespace wlclip {

// A compositor that does not answer within this long is taken to be hung.
inline constexpr std::chrono::milliseconds round_trip_limit{3000};
// A selection owner that sends nothing for this long is taken to be stuck.
inline constexpr std::chrono::milliseconds pipe_idle_limit{2000};
// A read of the selection is given up when its transfer takes longer than this in all: an owner
// that never stops writing would otherwise grow the reader without end.
inline constexpr std::chrono::milliseconds read_limit{2000};
// A read of the selection is given up once its bytes pass this, long before read_limit ends one
// that a fast writer never finishes; well above the longest text the service carries (64 MiB).
inline constexpr std::size_t read_size_limit = std::size_t{96} << 20;
// How long a copy waits for its serving thread to come up: a connect and two round trips,
// each bounded by round_trip_limit, with room to spare.
inline constexpr std::chrono::milliseconds copy_report_limit =
    3 * round_trip_limit + std::chrono::milliseconds(1000);
// A serving thread asked to stop has finished its transfers within this.
inline constexpr std::chrono::milliseconds serving_stop_limit{5000};
// A reader of a text we serve that takes nothing for this long is taken to be stuck. Long: a
// cut transfer ends just as a whole one does, so a reader that pauses must not lose its text.
inline constexpr std::chrono::milliseconds serving_idle_limit{60000};

class Connection;

// The compositor connection of a read, followed until its data has ended: an owner that dies or
// is replaced in the middle of its transfer leaves an end of data behind it all the same.
struct ReadWatch;
struct ReadWatchDeleter {
    void operator()(ReadWatch* watch) const;
};

struct Contents {
    util::UniqueFd pipe; // read end, blocking and close-on-exec; end of data when the owner closes
    std::string mime_type;
    // The selection offers types besides text: files, an image beside HTML, formatted text.
    bool more_than_text = false;
    std::unique_ptr<ReadWatch, ReadWatchDeleter> watch;

    // Reads the pipe to its end as read_to_end does, following the selection on the kept
    // connection meanwhile.
    std::expected<std::string, IoError> read_text();
    // Whether the offer read was still the first seat's selection when read_text met the end of
    // its data, as far as the compositor had told by then: only then is what came the whole
    // text. What the compositor tells after it (another copy, or the owner gone once it has
    // served, as a copy that serves one paste does) is of a later moment.
    bool selected_at_end() const;
};

// Reads `fd` to its end; ETIMEDOUT when no data came for `idle_limit`, or when the end has not
// come within `whole_limit`; EFBIG once more than `size_limit` bytes came, which are freed then.
// The events of `followed` (when given) are dispatched while it waits, and none once the end has
// been read: data and events that are both there at once count as data first. A connection that
// fails is no longer followed; its next round trip tells the error.
std::expected<std::string, IoError>
read_to_end(int fd, std::chrono::milliseconds idle_limit = pipe_idle_limit,
            std::chrono::milliseconds whole_limit = read_limit,
            std::size_t size_limit = read_size_limit, Connection* followed = nullptr);

class ServingThread;

// The clipboard of one compositor: reads of its selection, and the serving threads of the texts
// offered on it.
class Clipboard {
  public:
    explicit Clipboard(Address address);
    // Stops the serving threads, which close their compositor connections and finish the
    // transfers under way within serving_stop_limit, and joins them.
    ~Clipboard();
    Clipboard(const Clipboard&) = delete;
    Clipboard& operator=(const Clipboard&) = delete;

    // Asks the owner of the first seat's selection for its content as text. The connection
    // stays open in the returned contents, for read_text to follow the selection on. A compositor
    // other than the one first reached here (it ended, and another took its socket) is
    // WaylandCommunication with ECONNRESET: what it holds says nothing of the user's copy.
    std::expected<Contents, paste::Error> get_contents();

    // Offers `bytes` as text on every seat from a serving thread, which serves every request
    // until the compositor cancels the offer, closes its connection, finishes the transfers
    // under way (each given up after serving_idle_limit without progress) and ends. Returns once
    // the compositor has processed the selection request. Throws when the thread cannot be
    // started or ends without reporting.
    std::expected<void, copy::Error> copy_text(std::string bytes);

    // The bytes the newest copy offers, while that offer is still the first seat's selection
    // (the serving connection has answered a round trip since the question); none otherwise,
    // and none for an address that names no socket path.
    std::shared_ptr<const std::string> own_selection();

    // Whether a read has reached a compositor on this address yet.
    bool reached_compositor() const { return compositor_.has_value(); }

    // How many of the serving threads have not ended yet.
    std::size_t serving_threads();

    // For a process about to end: every serving thread takes no more requests, closes its
    // compositor connection and finishes the transfers under way by `by`, each given up after
    // serving_idle_limit without progress.
    void finish_serving(std::chrono::steady_clock::time_point by);
    // Waits until every serving thread has ended, a moment past `by` at most. What the
    // transfers given up since finish_serving lacked.
    Unfinished wait_for_serving(std::chrono::steady_clock::time_point by);

  private:
    // Whether `connection` reaches the compositor this clipboard first reached: one that took
    // the same socket name after it ended is another, whose empty selection is no clear.
    bool same_compositor(int connection_fd);

    Address address_;
    std::optional<pid_t> compositor_;
    // Oldest first: the newest holds the offer own_selection asks about, the older ones serve
    // the transfers they began until their thread ends.
    std::vector<std::unique_ptr<ServingThread>> serving_;
};

} // namespace wlclip
