// Discovery of the clipboards on this machine and the loop that keeps them equal.
#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "clipboard.hpp"
#include "error.hpp"

namespace quillfen {

// How discovery makes a clipboard for a display name. The default is the two real backends;
// tests hand in scripted ones.
struct Probes {
    // A Wayland clipboard for "wayland-N". Building it does no input or output; discovery's
    // first read is what connects to the socket.
    std::function<std::unique_ptr<Clipboard>(std::string display)> wayland;
    // An X11 clipboard for ":N". Creating it connects to the display.
    std::function<std::expected<std::unique_ptr<Clipboard>, MyError>(std::string display)> x11;
};

// The real backends: WlrClipboard and X11Clipboard.
Probes backend_probes();

// Builds the ordered list of distinct clipboards (Wayland sockets by number, then X11 displays by
// number) and gives every one of them the same start text.
std::expected<ClipboardList, MyError> get_clipboards();
std::expected<ClipboardList, MyError> get_clipboards(const Probes& probes);

// The clipboards that discovery found and the text it gave every one of them.
struct Discovered {
    ClipboardList clipboards;
    std::string start_text;
};

// Discovery as above. When every clipboard reads empty (a previous worker's selections went away
// with it), the start text is `last_shared()`, the text the clipboards last shared.
std::expected<Discovered, MyError> discover(const Probes& probes,
                                            const std::function<std::string()>& last_shared);

// The first non-empty text that a clipboard of the list yields, in list order; else the empty
// text. Read errors are passed over.
std::string first_nonempty_content(const ClipboardList& clipboards);

// Positions, in the combined list, of clipboards found to be a later name of an earlier one.
using DuplicateSet = std::set<std::size_t>;

// The entries whose positions are not in `duplicates`, in order; the others are destroyed.
ClipboardList retain_unique(ClipboardList clipboards, const DuplicateSet& duplicates);

// How the sync loop waits between its reads. Tests replace it to run without sleeping.
using Pause = std::function<void(std::chrono::nanoseconds)>;
void sleep_pause(std::chrono::nanoseconds duration);

// Polls the clipboards and writes every change to all of them. Returns only with an error:
// NoClipboards for an empty list, else the first error of a read or a write. A clipboard that
// reads the empty text is passed over: it is never the source of a change.
MyError keep_synced(const ClipboardList& clipboards);
MyError keep_synced(const ClipboardList& clipboards, const Pause& pause);

// Where the loop begins right after a discovery: the text discovery gave every clipboard, and who
// is told of each text the loop chooses to give them all (before it writes it).
struct SyncStart {
    std::string written;
    std::function<void(std::string_view)> shared;
};
MyError keep_synced(const ClipboardList& clipboards, const Pause& pause, const SyncStart& start);

} // namespace quillfen
