// Discovery of the clipboards on this machine: one per distinct clipboard, all given one start
// text.
#pragma once

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

// How discovery makes a clipboard for a display name. The default is the two real backends
// (backend_probes.hpp); tests hand in scripted ones.
struct Probes {
    // A Wayland clipboard for "wayland-N". Building it does no input or output; discovery's
    // first read is what connects to the socket.
    std::function<std::unique_ptr<Clipboard>(std::string display)> wayland;
    // An X11 clipboard for ":N". Creating it connects to the display.
    std::function<std::expected<std::unique_ptr<Clipboard>, MyError>(std::string display)> x11;
};

// Builds the ordered list of distinct clipboards (Wayland sockets by number, then X11 displays by
// number) and gives every one of them the same start text.
std::expected<ClipboardList, MyError> get_clipboards(const Probes& probes);

// The clipboards that discovery found and the text it gave every one of them.
struct Discovered {
    ClipboardList clipboards;
    std::string start_text;
};

// Where the text the clipboards last shared is kept, so that it outlives a worker.
struct KeptText {
    std::function<std::string()> load;
    std::function<void(std::string_view)> store;
};

// Discovery as above. When no clipboard holds a non-empty text (a previous worker's selections
// went away with it), the start text is `kept.load()`, the text the clipboards last shared. The
// start text is stored in `kept` before any clipboard is written. A clipboard that holds a
// selection without text (an image), or one that offers more than its text (files), is never
// written: it is not tested for being a later name of another one, and it does not get the start
// text. The text of the latter may still be the start text.
//
// `held` are the clipboards of this process that are still held while it rediscovers: a text that
// one of them still serves on its display is ours, never the user's copy, and is passed over for
// the start text, so that a display whose write failed does not bring back the text it held
// before. The kept text is then the latest.
std::expected<Discovered, MyError> discover(const Probes& probes, const KeptText& kept,
                                            const ClipboardList& held = {});

// The first non-empty text that a clipboard of the list yields, in list order; else the empty
// text. Read errors and selections without text are passed over.
std::string first_nonempty_content(const ClipboardList& clipboards);

// Positions, in the combined list, of clipboards found to be a later name of an earlier one.
using DuplicateSet = std::set<std::size_t>;

// The entries whose positions are not in `duplicates`, in order; the others are destroyed.
ClipboardList retain_unique(ClipboardList clipboards, const DuplicateSet& duplicates);

} // namespace quillfen
