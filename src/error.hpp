// The one error type of the clipboard, discovery and sync operations, the
// wrapper that lets a library error or a caught failure stand inside it, and
// the display and debug texts of every error the service logs.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "debug_text.hpp"
#include "wlclip/error.hpp"
#include "x11clip/error.hpp"

namespace quillfen {

// Captured output that a wrapped error may carry; nothing fills one today.
struct StdIo {
    std::string stdout;
    std::string stderr;
};

// The opaque payload of a caught failure: nothing of it can be shown.
struct AnyPayload {};

template <class Inner>
struct StandardizedError {
    Inner inner;
    std::optional<StdIo> stdio;
};

struct MyError {
    struct Generic {
        StandardizedError<AnyPayload> error;
    };
    struct Crash {
        std::string msg;
        std::vector<MyError> cause; // oldest first
    };
    struct WlcrsPaste {
        wlclip::paste::Error error;
    };
    struct WlcrsCopy {
        wlclip::copy::Error error;
    };
    struct Io {
        wlclip::IoError error;
    };
    struct TerminalClipboard {
        StandardizedError<x11clip::ClipboardError> error;
    };
    struct NoClipboards {};
    struct BorrowError {};
    struct BorrowMutError {};

    using Value = std::variant<Generic, Crash, WlcrsPaste, WlcrsCopy, Io, TerminalClipboard,
                               NoClipboards, BorrowError, BorrowMutError>;

    MyError(Generic v) : value(std::move(v)) {}
    MyError(Crash v) : value(std::move(v)) {}
    MyError(WlcrsPaste v) : value(std::move(v)) {}
    MyError(WlcrsCopy v) : value(std::move(v)) {}
    MyError(Io v) : value(std::move(v)) {}
    MyError(TerminalClipboard v) : value(std::move(v)) {}
    MyError(NoClipboards v) : value(v) {}
    MyError(BorrowError v) : value(v) {}
    MyError(BorrowMutError v) : value(v) {}

    Value value;
};

// Display texts.
std::string display_text(const wlclip::IoError& error);
std::string display_text(const wlclip::paste::Error& error);
std::string display_text(const wlclip::copy::Error& error);
std::string display_text(const x11clip::ClipboardError& error);
std::string display_text(const MyError& error);

// A wrapped error shows itself structurally, not the text of what it wraps.
template <class Inner>
std::string display_text(const StandardizedError<Inner>& error) {
    return debug_text(error);
}

// Debug texts.
void debug_fmt(Formatter& f, const wlclip::IoError& error);
void debug_fmt(Formatter& f, wlclip::ConnectError kind);
void debug_fmt(Formatter& f, const wlclip::paste::Error& error);
void debug_fmt(Formatter& f, const wlclip::copy::Error& error);
void debug_fmt(Formatter& f, const x11clip::ClipboardError& error);
void debug_fmt(Formatter& f, const StdIo& stdio);
void debug_fmt(Formatter& f, const AnyPayload& payload);
void debug_fmt(Formatter& f, const MyError& error);

template <class Inner>
void debug_fmt(Formatter& f, const StandardizedError<Inner>& error) {
    f.debug_struct("StandardizedError")
        .field("inner", error.inner)
        .field("stdio", error.stdio)
        .finish();
}

// The category name of an operating-system error number, as the debug text of
// an I/O error shows it (BrokenPipe for EPIPE; Uncategorized when none fits).
std::string_view io_error_kind(int code);

} // namespace quillfen
