#include "error.hpp"

#include <fmt/format.h>

#include <cerrno>

#include "util/errno_text.hpp"

namespace quillfen {

namespace {

template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};

void name_only(Formatter& f, std::string_view name) {
    f.write(name);
}

template <class Payload>
void with_payload(Formatter& f, std::string_view name, const Payload& payload) {
    f.debug_tuple(name).field(payload).finish();
}

// The Wayland layer's error kinds, one overload each; paste and copy errors share the kinds
// they have in common, so each kind's texts stand here once.
namespace wayland_kind {

using namespace wlclip;
using copy::Paste;
using copy::TempCopy;
using copy::TempDirRemove;
using copy::TempFileRemove;
using paste::ClipboardEmpty;
using paste::NoMimeType;
using paste::PipeCreation;

std::string display(const NoSeats&) {
    return "There are no seats";
}
std::string display(const ClipboardEmpty&) {
    return "The clipboard of the requested seat is empty";
}
std::string display(const NoMimeType&) {
    return "No suitable type of content copied";
}
std::string display(const WaylandConnection&) {
    return "Couldn't connect to the Wayland compositor";
}
std::string display(const WaylandCommunication&) {
    return "Wayland compositor communication error";
}
std::string display(const MissingProtocol& e) {
    return fmt::format(
        "A required Wayland protocol ({} version {}) is not supported by the compositor", e.name,
        e.version);
}
std::string display(const PrimarySelectionUnsupported&) {
    return "The compositor does not support primary selection";
}
std::string display(const SeatNotFound&) {
    return "The requested seat was not found";
}
std::string display(const PipeCreation&) {
    return "Couldn't create a pipe for content transfer";
}
std::string display(const TempCopy&) {
    return "Error copying the source into a temporary file";
}
std::string display(const TempFileRemove&) {
    return "Couldn't remove the temporary file";
}
std::string display(const TempDirRemove&) {
    return "Couldn't remove the temporary directory";
}
std::string display(const Paste&) {
    return "Error satisfying a paste request";
}

void debug(Formatter& f, const NoSeats&) {
    name_only(f, "NoSeats");
}
void debug(Formatter& f, const ClipboardEmpty&) {
    name_only(f, "ClipboardEmpty");
}
void debug(Formatter& f, const NoMimeType&) {
    name_only(f, "NoMimeType");
}
void debug(Formatter& f, const WaylandConnection& e) {
    with_payload(f, "WaylandConnection", e.kind);
}
void debug(Formatter& f, const WaylandCommunication& e) {
    with_payload(f, "WaylandCommunication", e.io);
}
void debug(Formatter& f, const MissingProtocol& e) {
    f.debug_struct("MissingProtocol").field("name", e.name).field("version", e.version).finish();
}
void debug(Formatter& f, const PrimarySelectionUnsupported&) {
    name_only(f, "PrimarySelectionUnsupported");
}
void debug(Formatter& f, const SeatNotFound&) {
    name_only(f, "SeatNotFound");
}
void debug(Formatter& f, const PipeCreation& e) {
    with_payload(f, "PipeCreation", e.io);
}
void debug(Formatter& f, const TempCopy& e) {
    with_payload(f, "TempCopy", e.io);
}
void debug(Formatter& f, const TempFileRemove& e) {
    with_payload(f, "TempFileRemove", e.io);
}
void debug(Formatter& f, const TempDirRemove& e) {
    with_payload(f, "TempDirRemove", e.io);
}
void debug(Formatter& f, const Paste& e) {
    with_payload(f, "Paste", e.io);
}

} // namespace wayland_kind

} // namespace

std::string_view io_error_kind(int code) {
    switch (code) {
    case EPERM:
    case EACCES:
        return "PermissionDenied";
    case ENOENT:
        return "NotFound";
    case EINTR:
        return "Interrupted";
    case E2BIG:
        return "ArgumentListTooLong";
    case EAGAIN:
        return "WouldBlock";
    case ENOMEM:
        return "OutOfMemory";
    case EBUSY:
        return "ResourceBusy";
    case EEXIST:
        return "AlreadyExists";
    case EXDEV:
        return "CrossesDevices";
    case ENOTDIR:
        return "NotADirectory";
    case EISDIR:
        return "IsADirectory";
    case EINVAL:
        return "InvalidInput";
    case ETXTBSY:
        return "ExecutableFileBusy";
    case EFBIG:
        return "FileTooLarge";
    case ENOSPC:
        return "StorageFull";
    case ESPIPE:
        return "NotSeekable";
    case EROFS:
        return "ReadOnlyFilesystem";
    case EMLINK:
        return "TooManyLinks";
    case EPIPE:
        return "BrokenPipe";
    case EDEADLK:
        return "Deadlock";
    case ENAMETOOLONG:
        return "InvalidFilename";
    case ENOSYS:
        return "Unsupported";
    case ENOTEMPTY:
        return "DirectoryNotEmpty";
    case ELOOP:
        return "FilesystemLoop";
    case EADDRINUSE:
        return "AddrInUse";
    case EADDRNOTAVAIL:
        return "AddrNotAvailable";
    case ENETDOWN:
        return "NetworkDown";
    case ENETUNREACH:
        return "NetworkUnreachable";
    case ECONNABORTED:
        return "ConnectionAborted";
    case ECONNRESET:
        return "ConnectionReset";
    case ENOTCONN:
        return "NotConnected";
    case ETIMEDOUT:
        return "TimedOut";
    case ECONNREFUSED:
        return "ConnectionRefused";
    case EHOSTUNREACH:
        return "HostUnreachable";
    case ESTALE:
        return "StaleNetworkFileHandle";
    case EDQUOT:
        return "FilesystemQuotaExceeded";
    default:
        return "Uncategorized";
    }
}

// ---- display texts ----

std::string display_text(const wlclip::IoError& error) {
    return util::os_error_text(error.code);
}

std::string display_text(const wlclip::paste::Error& error) {
    return std::visit([](const auto& kind) { return wayland_kind::display(kind); }, error);
}

std::string display_text(const wlclip::copy::Error& error) {
    return std::visit([](const auto& kind) { return wayland_kind::display(kind); }, error);
}

std::string display_text(const x11clip::ClipboardError& error) {
    return "clipboard error: " + error.message();
}

std::string display_text(const MyError& error) {
    return std::visit(
        Overloaded{
            [](const MyError::Generic& e) { return "Unknown error: " + display_text(e.error); },
            [](const MyError::Crash& e) {
                return "Application crash '" + e.msg + "': " + alternate_debug_text(e.cause);
            },
            [](const MyError::WlcrsPaste& e) {
                return "failed to get wlr clipboard: " + display_text(e.error);
            },
            [](const MyError::WlcrsCopy& e) {
                return "failed to set wlr clipboard: " + display_text(e.error);
            },
            [](const MyError::Io& e) { return display_text(e.error); },
            [](const MyError::TerminalClipboard& e) { return debug_text(e.error); },
            [](const MyError::NoClipboards&) -> std::string { return "No clipboards."; },
            [](const MyError::BorrowError&) -> std::string { return "already mutably borrowed"; },
            [](const MyError::BorrowMutError&) -> std::string { return "already borrowed"; },
        },
        error.value);
}

// ---- debug texts ----

void debug_fmt(Formatter& f, const wlclip::IoError& error) {
    f.debug_struct("Os")
        .field("code", error.code)
        .field("kind", DebugName{io_error_kind(error.code)})
        .field("message", util::errno_description(error.code))
        .finish();
}

void debug_fmt(Formatter& f, wlclip::ConnectError kind) {
    using wlclip::ConnectError;
    switch (kind) {
    case ConnectError::NoWaylandLib:
        return name_only(f, "NoWaylandLib");
    case ConnectError::XdgRuntimeDirNotSet:
        return name_only(f, "XdgRuntimeDirNotSet");
    case ConnectError::NoCompositorListening:
        return name_only(f, "NoCompositorListening");
    case ConnectError::InvalidName:
        return name_only(f, "InvalidName");
    case ConnectError::InvalidFd:
        return name_only(f, "InvalidFd");
    case ConnectError::ForeignCompositor:
        return name_only(f, "ForeignCompositor");
    }
    name_only(f, "Unknown");
}

void debug_fmt(Formatter& f, const wlclip::paste::Error& error) {
    std::visit([&](const auto& kind) { wayland_kind::debug(f, kind); }, error);
}

void debug_fmt(Formatter& f, const wlclip::copy::Error& error) {
    std::visit([&](const auto& kind) { wayland_kind::debug(f, kind); }, error);
}

void debug_fmt(Formatter& f, const x11clip::ClipboardError& error) {
    f.debug_struct("ClipboardError").field("message", error.message()).finish();
}

void debug_fmt(Formatter& f, const StdIo& stdio) {
    f.debug_struct("StdIo").field("stdout", stdio.stdout).field("stderr", stdio.stderr).finish();
}

void debug_fmt(Formatter& f, const AnyPayload&) {
    f.write("Any { .. }");
}

void debug_fmt(Formatter& f, const MyError& error) {
    std::visit(Overloaded{
                   [&](const MyError::Generic& e) { with_payload(f, "Generic", e.error); },
                   [&](const MyError::Crash& e) {
                       f.debug_struct("Crash").field("msg", e.msg).field("cause", e.cause).finish();
                   },
                   [&](const MyError::WlcrsPaste& e) { with_payload(f, "WlcrsPaste", e.error); },
                   [&](const MyError::WlcrsCopy& e) { with_payload(f, "WlcrsCopy", e.error); },
                   [&](const MyError::Io& e) { with_payload(f, "Io", e.error); },
                   [&](const MyError::TerminalClipboard& e) {
                       with_payload(f, "TerminalClipboard", e.error);
                   },
                   [&](const MyError::NoClipboards&) { name_only(f, "NoClipboards"); },
                   [&](const MyError::BorrowError&) {
                       f.debug_tuple("BorrowError").field(DebugName{"BorrowError"}).finish();
                   },
                   [&](const MyError::BorrowMutError&) {
                       f.debug_tuple("BorrowMutError").field(DebugName{"BorrowMutError"}).finish();
                   },
               },
               error.value);
}

} // namespace quillfen
