// The kinds of the layer's errors: what each failure on a real server is, and the text each
// kind renders to, which the service logs byte for byte.
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <functional>
#include <optional>
#include <string>

#include "tests/servers/xvfb_server.hpp"
#include "tests/x11clip/x11_clients.hpp"
#include "x11clip/x11clip.hpp"

namespace quillfen::test {
namespace {

using x11clip::ClipboardError;
using Kind = ClipboardError::Kind;

TEST(X11ClipErrorKind, EachKindRendersItsText) {
    const x11clip::XError x_error{
        .error_code = 3, .major_code = 18, .minor_code = 0, .resource_id = 4194305, .sequence = 42};
    const std::string details =
        "error code 3, major opcode 18, minor opcode 0, resource 4194305, sequence 42";
    struct Case {
        ClipboardError error;
        std::string text;
    };
    const Case cases[] = {
        {{.kind = Kind::connection, .code = XCB_CONN_ERROR},
         "X11 clipboard error : XCB connection error: Connection"},
        {{.kind = Kind::connection, .code = XCB_CONN_CLOSED_EXT_NOTSUPPORTED},
         "X11 clipboard error : XCB connection error: ClosedExtNotSupported"},
        {{.kind = Kind::connection, .code = XCB_CONN_CLOSED_PARSE_ERR},
         "X11 clipboard error : XCB connection error: ClosedParseErr"},
        {{.kind = Kind::connection, .code = XCB_CONN_CLOSED_FDPASSING_FAILED},
         "X11 clipboard error : XCB connection error: ClosedFdPassingFailed"},
        {{.kind = Kind::connection, .code = 8},
         "X11 clipboard error : XCB connection error: Unknown(8)"},
        {{.kind = Kind::connection, .code = 0},
         "X11 clipboard error : XCB connection error: Unknown(0)"},
        {{.kind = Kind::another_user}, "X11 clipboard error : display served by another user"},
        {{.kind = Kind::timed_out}, "X11 clipboard error : Selection timed out"},
        {{.kind = Kind::too_large}, "X11 clipboard error : Selection too large"},
        {{.kind = Kind::refused}, "X11 clipboard error : Selection refused"},
        {{.kind = Kind::unexpected_type, .code = 31},
         "X11 clipboard error : Unexpected Reply type: 31"},
        {{.kind = Kind::not_utf8}, "error interpreting as UTF8"},
        {{.kind = Kind::reply_error, .x_error = x_error},
         "X11 clipboard error : XCB reply error: " + details},
        {{.kind = Kind::x_error, .x_error = x_error},
         "X11 clipboard error : XCB generic error: " + details},
        {{.kind = Kind::not_owner},
         "X11 clipboard error : Failed to set new owner of XCB selection"},
        {{.kind = Kind::owner_ended},
         "X11 clipboard error : XCB - couldn't set atom: the owner thread has ended"},
        {{.kind = Kind::system, .what = "eventfd: Too many open files"},
         "X11 clipboard error : XCB generic error: eventfd: Too many open files"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.error.message(), c.text);
    }
}

// The error a failing call on a real server gives; none when the call succeeded.
using Failing = std::function<std::optional<ClipboardError>(XvfbServer&)>;

std::optional<ClipboardError> create_fails(const std::string& display) {
    auto clipboard = x11clip::Clipboard::create(display);
    if (clipboard)
        return std::nullopt;
    return clipboard.error();
}

// Reads CLIPBOARD while a scripted owner answers it with `script`.
Failing read_from(ScriptedOwner::Script script) {
    return [script](XvfbServer& server) -> std::optional<ClipboardError> {
        auto clipboard = x11clip::Clipboard::create(server.display());
        if (!clipboard)
            return clipboard.error();
        ScriptedOwner owner(server.display(), script);
        auto text = clipboard->get_string();
        if (text)
            return std::nullopt;
        return text.error();
    };
}

TEST(X11ClipErrorKind, FailuresOfRealServers) {
    using Reply = ScriptedOwner::Script::Reply;
    struct Case {
        const char* what;
        Failing failing;
        Kind kind;
        std::int64_t code = 0;
    };
    const Case cases[] = {
        {"no server",
         [](XvfbServer&) { return create_fails(":" + std::to_string(unused_display_number())); },
         Kind::connection, XCB_CONN_ERROR},
        {"no such screen", [](XvfbServer& server) { return create_fails(server.display() + ".7"); },
         Kind::connection, XCB_CONN_CLOSED_INVALID_SCREEN},
        {"no display name", [](XvfbServer&) { return create_fails("no-colon"); }, Kind::connection,
         XCB_CONN_CLOSED_PARSE_ERR},
        {"silent owner", read_from({.reply = Reply::none, .type = "UTF8_STRING", .bytes = ""}),
         Kind::timed_out},
        {"refusing owner", read_from({.reply = Reply::refusal, .type = "UTF8_STRING", .bytes = ""}),
         Kind::refused},
        {"owner of STRING only", read_from({.reply = Reply::value, .type = "STRING", .bytes = "x"}),
         Kind::unexpected_type, XCB_ATOM_STRING},
        {"owner of bytes that are not UTF-8",
         read_from({.reply = Reply::value, .type = "UTF8_STRING", .bytes = "ab\xff"}),
         Kind::not_utf8},
        {"our own bytes that are not UTF-8",
         [](XvfbServer& server) -> std::optional<ClipboardError> {
             auto clipboard = x11clip::Clipboard::create(server.display());
             if (!clipboard)
                 return clipboard.error();
             if (auto written = clipboard->set_string("ab\xff"); !written)
                 return written.error();
             auto text = clipboard->get_string();
             return text ? std::nullopt : std::optional(text.error());
         },
         Kind::not_utf8},
        {"lost server, read",
         [](XvfbServer& server) -> std::optional<ClipboardError> {
             auto clipboard = x11clip::Clipboard::create(server.display());
             if (!clipboard)
                 return clipboard.error();
             server.kill();
             auto text = clipboard->get_string();
             return text ? std::nullopt : std::optional(text.error());
         },
         Kind::connection, XCB_CONN_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        XvfbServer server;
        const auto error = c.failing(server);
        ASSERT_TRUE(error.has_value()) << "the call succeeded";
        EXPECT_EQ(error->kind, c.kind) << error->message();
        EXPECT_EQ(error->code, c.code) << error->message();
    }
}

} // namespace
} // namespace quillfen::test
