// The loop that keeps the clipboards equal.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "clipboard.hpp"
#include "error.hpp"

namespace quillfen {

// How the sync loop waits between its reads: false when the worker was asked to end, before the
// pause or during it. Tests replace it to run without sleeping.
using Pause = std::function<bool(std::chrono::nanoseconds)>;
bool sleep_pause(std::chrono::nanoseconds duration);

// Where the loop begins right after a discovery: the text discovery gave every clipboard, and who
// is told of each text the loop chooses to give them all (before it writes it).
struct SyncStart {
    std::string written;
    std::function<void(std::string_view)> shared;
    // How the worker ends once a pause reports that it was asked to, called after one more pass
    // over the clipboards, so that a change made since the last pass is kept. It does not return
    // in the service; where it does, the loop goes on.
    std::function<void()> end = {};
};

// Polls the clipboards and writes every change, the empty text included, to all of them. Returns
// only with an error: NoClipboards for an empty list, else the first error of a read or a write
// (a failed write does not keep the others from being written). A clipboard that holds a
// selection without text is passed over: it is never the source of a change, and it gets the
// next change made elsewhere. A change whose source offers more than its text (files, formatted
// text) leaves the source, and any other clipboard showing that same copy, as they are. Without
// `start` the clipboards are taken to share what the first of them holds.
MyError keep_synced(const ClipboardList& clipboards, const Pause& pause = sleep_pause,
                    std::optional<SyncStart> start = std::nullopt);

} // namespace quillfen
