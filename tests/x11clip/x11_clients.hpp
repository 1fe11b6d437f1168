// Other X clients for the layer's tests: the real xclip (the shared peers, and one that stays
// in the foreground), and small xcb clients whose behaviour each test chooses.
#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/servers/peers.hpp"
#include "tests/servers/watched_process.hpp"

namespace quillfen::test {

// A raw connection with a window of its own.
class RawClient {
  public:
    explicit RawClient(const std::string& display);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    xcb_connection_t* connection() const { return xcb_; }
    xcb_window_t window() const { return window_; }
    xcb_atom_t atom(std::string_view name) const;
    std::string atom_name(xcb_atom_t atom) const;
    xcb_window_t clipboard_owner() const;
    // The owner of the selection `name` ("PRIMARY", say); XCB_NONE when nobody owns it.
    xcb_window_t selection_owner(std::string_view name) const;
    // Makes our window CLIPBOARD's owner at `time`; throws when the server does not name it after.
    void take_clipboard(xcb_timestamp_t time = XCB_CURRENT_TIME) const;
    std::size_t max_request_bytes() const;
    // The server's time now: that of the PropertyNotify a change of our window's property causes.
    xcb_timestamp_t server_time();

    // What a requestor sees of one conversion of CLIPBOARD.
    struct Answer {
        bool refused = false;
        xcb_atom_t type = XCB_NONE; // of the first property value (INCR when incremental)
        std::uint8_t format = 0;
        std::string bytes;               // the value, all chunks joined
        std::vector<std::size_t> chunks; // sizes of the incremental chunks, the last empty
    };
    // An incremental transfer calls `after_chunk` with the number of chunks taken so far after
    // each chunk, while the owner waits to send the next one.
    Answer convert(std::string_view target,
                   const std::function<void(std::size_t taken)>& after_chunk = {});

    // Starts an incremental transfer, takes `chunks` chunks and then stops reading.
    void stall_incremental(std::string_view target, int chunks);

    // The next event of `type` (the others are dropped), to be freed by the caller; throws when
    // none comes within `limit`.
    xcb_generic_event_t* wait_event(std::uint8_t type, std::chrono::seconds limit);

  private:
    std::string take_property(xcb_atom_t property, xcb_atom_t* type, std::uint8_t* format);
    void request(std::string_view target, xcb_atom_t property);

    xcb_connection_t* xcb_;
    xcb_window_t window_;
};

// A client that owns CLIPBOARD and answers every request with a fixed type and bytes,
// refuses every request, or never answers at all. With `offers`, it answers as a file manager or
// a browser does instead: TARGETS lists them, TIMESTAMP gives the time it took CLIPBOARD, each
// offer is answered with its own bytes, typed as itself, and every other target is refused.
class ScriptedOwner {
  public:
    struct Offer {
        std::string target;
        std::string bytes = {};
    };
    struct Script {
        enum class Reply { value, refusal, none } reply = Reply::value;
        std::string type = "UTF8_STRING";
        std::string bytes = {};
        std::vector<Offer> offers = {};
    };
    ScriptedOwner(const std::string& display, Script script);
    ~ScriptedOwner();

    // A new copy from the same window, as an application copies again: CLIPBOARD taken anew, at
    // a later time, with `offers`.
    void copy_again(std::vector<Offer> offers);
    // How many requests it has answered (refusals included).
    std::size_t answers() const { return answers_; }
    // How many requests have reached it, those it leaves unanswered included.
    std::size_t requests() const { return requests_; }

  private:
    void serve(const std::stop_token& stop);
    // Whether a request was answered from `offers`.
    bool answer_offer(const xcb_selection_request_event_t& request);

    // Takes CLIPBOARD at a server time later than the one before, and serves it.
    void take_and_serve();

    RawClient client_;
    Script script_;
    xcb_timestamp_t taken_at_ = XCB_CURRENT_TIME;
    std::atomic<std::size_t> answers_ = 0;
    std::atomic<std::size_t> requests_ = 0;
    std::jthread thread_;
};

// A client that the server tells (XFIXES) of every new owner of CLIPBOARD, with the time at
// which the owner took it: the time its SetSelectionOwner named, or the server's own time when it
// named CurrentTime.
class OwnerWatch {
  public:
    explicit OwnerWatch(const std::string& display);

    struct Taken {
        xcb_window_t owner = XCB_NONE;
        xcb_timestamp_t at = XCB_CURRENT_TIME;
    };
    // The next change of owner; throws when none comes within `limit`.
    Taken next(std::chrono::seconds limit = std::chrono::seconds(10));

  private:
    RawClient client_;
    std::uint8_t notify_type_ = 0;
};

// A client that holds the whole server, as a screenshot tool's region selection or a window
// manager's move does: no other client is served until it lets go, or is destroyed.
class ServerGrab {
  public:
    explicit ServerGrab(const std::string& display);
    ~ServerGrab();
    ServerGrab(const ServerGrab&) = delete;
    ServerGrab& operator=(const ServerGrab&) = delete;

    void release();

  private:
    RawClient client_;
    bool held_ = true;
};

// An application's top-level window, mapped and kept open while the object lives, its events
// read and dropped. A compositor's bridge to its Xwayland display carries selections across only
// while an X window has the focus.
class MappedWindow {
  public:
    // Returns once the window has the focus; throws when it does not get it.
    explicit MappedWindow(const std::string& display);
    ~MappedWindow();

  private:
    RawClient client_;
    std::jthread drain_;
};

// Adds the local user `user` to the server's access list, as `xhost +si:localuser:NAME` does.
// Must come from a client the server already lets in; throws when the server refuses.
void admit_local_user(const std::string& display, const std::string& user);

// `xclip -i` serving a text on CLIPBOARD until it loses the selection or is destroyed.
class XclipOwner {
  public:
    XclipOwner(const std::string& display, std::string_view text);
    ~XclipOwner();
    XclipOwner(const XclipOwner&) = delete;
    XclipOwner& operator=(const XclipOwner&) = delete;

  private:
    xcb_window_t before_; // the owner before xclip started
    WatchedProcess xclip_;
};

} // namespace quillfen::test
