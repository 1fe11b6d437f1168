// Error kinds of the Wayland clipboard layer. Their texts are part of the
// service's log output, so they are plain data here; the service renders them.
#pragma once

#include <string>
#include <variant>

namespace wlclip {

// An operating-system error number (errno) as the layer met it. A time limit
// that ran out is reported as ETIMEDOUT.
struct IoError {
    int code;
};

// Why no connection to the compositor could be made.
enum class ConnectError {
    NoWaylandLib,
    XdgRuntimeDirNotSet,
    NoCompositorListening,
    InvalidName,
    InvalidFd,
    // The socket's compositor runs as another user, who must not get our text.
    ForeignCompositor,
};

// Kinds that both a paste and a copy can end in: members of wlclip, taken into each of the two
// namespaces below.
inline namespace common {

struct NoSeats {};
struct WaylandConnection {
    ConnectError kind;
};
struct WaylandCommunication {
    IoError io;
};
struct MissingProtocol {
    std::string name;
    unsigned version;
};
struct PrimarySelectionUnsupported {};
struct SeatNotFound {};

} // namespace common

namespace paste {

using namespace common;

struct ClipboardEmpty {};
struct NoMimeType {};
struct PipeCreation {
    IoError io;
};

// Alternatives in declaration order.
using Error =
    std::variant<NoSeats, ClipboardEmpty, NoMimeType, WaylandConnection, WaylandCommunication,
                 MissingProtocol, PrimarySelectionUnsupported, SeatNotFound, PipeCreation>;

} // namespace paste

namespace copy {

using namespace common;

struct TempCopy {
    IoError io;
};
struct TempFileRemove {
    IoError io;
};
struct TempDirRemove {
    IoError io;
};
struct Paste {
    IoError io;
};

// Alternatives in declaration order.
using Error = std::variant<NoSeats, WaylandConnection, WaylandCommunication, MissingProtocol,
                           PrimarySelectionUnsupported, SeatNotFound, TempCopy, TempFileRemove,
                           TempDirRemove, Paste>;

} // namespace copy

} // namespace wlclip
