// The service's X11 backend against real Xvfb servers.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <future>
#include <optional>
#include <thread>

#include "error.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/process_state.hpp"
#include "tests/servers/scoped_environment.hpp"
#include "tests/servers/xvfb_server.hpp"
#include "tests/x11clip/slow_incr_owner.hpp"
#include "tests/x11clip/x11_clients.hpp"
#include "x11_clipboard.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::unique_ptr<X11Clipboard> open_on(const XvfbServer& server) {
    auto clipboard = X11Clipboard::create(server.display());
    if (!clipboard)
        throw std::runtime_error(display_text(clipboard.error()));
    return std::move(*clipboard);
}

TEST(X11Clipboard, NoServerGivesTheTextDiscoveryCompares) {
    const std::string display = ":" + std::to_string(unused_display_number());
    auto clipboard = X11Clipboard::create(display);
    ASSERT_FALSE(clipboard.has_value());
    const auto* terminal = std::get_if<MyError::TerminalClipboard>(&clipboard.error().value);
    ASSERT_NE(terminal, nullptr);
    EXPECT_FALSE(terminal->error.stdio.has_value());
    const std::string shown = display_text(terminal->error.inner);
    EXPECT_EQ(shown, "clipboard error: X11 clipboard error : XCB connection error: Connection");
    EXPECT_EQ(shown.size(), 71u);
    EXPECT_EQ(debug_text(clipboard.error()),
              "TerminalClipboard(StandardizedError { inner: ClipboardError { message: \"X11 "
              "clipboard error : XCB connection error: Connection\" }, stdio: None })");
}

TEST(X11Clipboard, ServesTheDisplayGivenWhileDisplayNamesAnother) {
    XvfbServer server;
    XvfbServer other;
    ScopedEnvironment environment;
    environment.set("DISPLAY", other.display());
    auto clipboard = open_on(server);
    EXPECT_EQ(std::string(::getenv("DISPLAY")), other.display());
    ASSERT_TRUE(clipboard->set("given display"));
    EXPECT_EQ(xclip_read(server.display()).out, "given display");
    EXPECT_EQ(RawClient(other.display()).clipboard_owner(), XCB_NONE);
}

TEST(X11Clipboard, DebugTextShowsTheDisplayAlone) {
    XvfbServer server;
    auto first = open_on(server);
    auto second = open_on(server);
    const std::string expected = "X11Clipboard { display: \"" + server.display() + "\" }";
    EXPECT_EQ(debug_text(*first), expected);
    EXPECT_EQ(debug_text(*second), expected);
    EXPECT_EQ(first->display(), server.display());

    ClipboardList list;
    list.push_back(std::move(first));
    list.push_back(std::move(second));
    EXPECT_EQ(debug_text(list), "[" + expected + ", " + expected + "]");
}

TEST(X11Clipboard, SetThenGetAndPeersSeeTheText) {
    XvfbServer server;
    auto clipboard = open_on(server);
    ASSERT_TRUE(clipboard->set("\u00e4 text"));
    EXPECT_EQ(clipboard->get().value_or("?"), "\u00e4 text");
    EXPECT_EQ(xclip_read(server.display()).out, "\u00e4 text");
    EXPECT_EQ(clipboard->holds_own_text(), true);
    {
        XclipOwner theirs(server.display(), "theirs");
        EXPECT_EQ(clipboard->holds_own_text(), false);
        EXPECT_EQ(clipboard->get().value_or("?"), "theirs");
    }
    ASSERT_TRUE(clipboard->set(""));
    EXPECT_EQ(clipboard->get().value_or("?"), "");
}

TEST(X11Clipboard, FailedReadsAreTheEmptyText) {
    XvfbServer server;
    auto clipboard = open_on(server);
    using Reply = ScriptedOwner::Script::Reply;
    const ScriptedOwner::Script scripts[] = {
        {.reply = Reply::value, .type = "STRING", .bytes = "latin only"},
        {.reply = Reply::value, .type = "UTF8_STRING", .bytes = "\xc3\x28"},
        {.reply = Reply::none, .type = "UTF8_STRING", .bytes = ""},
    };
    for (const auto& script : scripts) {
        SCOPED_TRACE(script.bytes);
        ScriptedOwner owner(server.display(), script);
        auto text = clipboard->get();
        ASSERT_TRUE(text.has_value()) << debug_text(text.error());
        EXPECT_EQ(*text, "");
    }
}

// What `read` makes of each owner: no owner is the empty text; an owner that gives no UTF-8 text
// is a selection without text, which the service leaves alone.
TEST(X11Clipboard, ReadTellsASelectionWithoutTextFromNoSelection) {
    XvfbServer server;
    auto clipboard = open_on(server);
    auto read = [&] {
        auto content = clipboard->read();
        EXPECT_TRUE(content.has_value()) << debug_text(content.error());
        return content.value_or(Content{"<error>"});
    };
    EXPECT_EQ(read(), Content{""}) << "no owner";

    using Reply = ScriptedOwner::Script::Reply;
    const ScriptedOwner::Script without_text[] = {
        {.reply = Reply::value, .type = "STRING", .bytes = "latin only"},
        {.reply = Reply::value, .type = "UTF8_STRING", .bytes = "\xc3\x28"},
        {.reply = Reply::refusal, .type = "UTF8_STRING", .bytes = ""},
        {.reply = Reply::none, .type = "UTF8_STRING", .bytes = ""},
    };
    for (const auto& script : without_text) {
        SCOPED_TRACE(script.type + " " + script.bytes);
        ScriptedOwner owner(server.display(), script);
        EXPECT_EQ(read(), Content{});
    }
    {
        SlowIncrOwner endless(server.display(), {std::string(250000, 'e')}, 0ms,
                              SlowIncrOwner::Ending::never);
        EXPECT_EQ(read(), Content{}) << "an owner that never ends its transfer";
        EXPECT_EQ(read(), Content{}) << "and again, without asking it";
    }

    xclip_copy_as(server.display(), "image/png", std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(read(), Content{}) << "an image";
    xclip_copy(server.display(), "");
    EXPECT_EQ(read(), Content{""}) << "an empty text";
    xclip_copy(server.display(), "theirs");
    EXPECT_EQ(read(), Content{"theirs"});
    shell("DISPLAY=" + server.display() + " xsel --clipboard --clear");
    EXPECT_EQ(read(), Content{""}) << "cleared with xsel";
    ASSERT_TRUE(clipboard->set("ours"));
    EXPECT_EQ(read(), Content{"ours"});
}

// Whether the owner offers more than text, told by the targets it lists: what a file manager, a
// browser or an office program copies, against what editors and terminals copy.
TEST(X11Clipboard, ReadTellsACopyThatIsMoreThanTextFromTextAlone) {
    XvfbServer server;
    auto clipboard = open_on(server);
    using Offer = ScriptedOwner::Offer;
    struct Case {
        const char* what;
        std::vector<Offer> offers;
        Content content;
    };
    const Case cases[] = {
        {"files from a file manager",
         {{"x-special/gnome-copied-files", "copy\nfile:///home/u/a.txt"},
          {"text/uri-list", "file:///home/u/a.txt"},
          {"UTF8_STRING", "/home/u/a.txt"}},
         {"/home/u/a.txt", true}},
        {"an image from a browser",
         {{"image/png", "\x89PNG"}, {"text/html", "<img>"}, {"UTF8_STRING", "a picture"}},
         {"a picture", true}},
        {"cells from a spreadsheet",
         {{"application/x-openoffice-embed-source-xml", "<cells/>"},
          {"text/plain;charset=utf-8", "1\t2"},
          {"UTF8_STRING", "1\t2"}},
         {"1\t2", true}},
        {"an editor's text",
         {{"MULTIPLE", ""},
          {"SAVE_TARGETS", ""},
          {"UTF8_STRING", "plain"},
          {"COMPOUND_TEXT", "plain"},
          {"TEXT", "plain"},
          {"STRING", "plain"},
          {"text/plain;charset=utf-8", "plain"},
          {"text/plain", "plain"}},
         {"plain", false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedOwner owner(server.display(), {.offers = c.offers});
        auto content = clipboard->read();
        ASSERT_TRUE(content.has_value()) << debug_text(content.error());
        EXPECT_EQ(content->text, c.content.text);
        EXPECT_EQ(content->more_than_text, c.content.more_than_text);
    }
    xclip_copy(server.display(), "from xclip");
    EXPECT_EQ(clipboard->read(), (Content{"from xclip", false}));
}

// Another client's copy is read whole once, as long as the server reports no new owner; a new copy
// from the same window is read, whatever it offers.
TEST(X11Clipboard, NewCopyFromTheSameWindowIsRead) {
    XvfbServer server;
    auto clipboard = open_on(server);
    using Offer = ScriptedOwner::Offer;
    ScriptedOwner browser(server.display(),
                          {.offers = {{"text/html", "<i>first</i>"}, {"UTF8_STRING", "first"}}});
    EXPECT_EQ(clipboard->read(), (Content{"first", true}));
    const std::size_t answered = browser.answers();
    EXPECT_EQ(clipboard->read(), (Content{"first", true})) << "unchanged";
    EXPECT_EQ(browser.answers(), answered) << "an unchanged copy was transferred again";
    const std::vector<Offer> copies[] = {
        {{"text/html", "<i>second</i>"}, {"UTF8_STRING", "second"}},
        {{"UTF8_STRING", "third, plain"}},
        {{"text/html", "<i>third, plain</i>"}, {"UTF8_STRING", "third, plain"}},
    };
    for (const auto& offers : copies) {
        browser.copy_again(offers);
        const Content expected{offers.back().bytes, offers.size() > 1};
        EXPECT_EQ(clipboard->read(), expected);
        EXPECT_EQ(clipboard->read(), expected) << "unchanged";
    }
}

TEST(X11Clipboard, LostServerFailsWrites) {
    XvfbServer server;
    auto clipboard = open_on(server);
    ASSERT_TRUE(clipboard->set("before"));
    server.kill();
    auto written = clipboard->set("after");
    ASSERT_FALSE(written.has_value());
    const auto* terminal = std::get_if<MyError::TerminalClipboard>(&written.error().value);
    ASSERT_NE(terminal, nullptr);
    EXPECT_TRUE(terminal->error.inner.message().starts_with("X11 clipboard error : "));
}

// A read on a broken connection is an error, never the empty text: the sync loop would
// take the empty text for a change and write it everywhere. Discovery counts it like a
// display without a server.
// A server grabbed by another client does not answer: its clipboard is busy, not gone. A read is
// a selection without text, a write waits for the display, and once it answers, holding nothing
// now that our connections were given up, it gets the text written last.
TEST(X11Clipboard, BusyDisplayIsTriedAgainAndGetsTheTextWrittenMeanwhile) {
    XvfbServer server;
    auto clipboard = open_on(server);
    ASSERT_TRUE(clipboard->set("before"));
    const Content busy{.text = std::nullopt, .more_than_text = false, .busy = true};
    {
        ServerGrab grab(server.display());
        EXPECT_EQ(clipboard->holds_own_text(), false);
        EXPECT_EQ(clipboard->read(), busy);
        EXPECT_TRUE(clipboard->set("written while busy"));
        EXPECT_EQ(clipboard->read(), busy) << "tried again before its time";
    }
    EXPECT_EQ(clipboard->read(), busy) << "tried again before its time";
    std::this_thread::sleep_for(busy_retry);
    EXPECT_EQ(clipboard->read(), Content{"written while busy"});
    EXPECT_EQ(xclip_paste(server.display()), "written while busy");

    // Made while busy, it connects once the display answers.
    std::optional<ServerGrab> grab(std::in_place, server.display());
    auto made_busy = X11Clipboard::create(server.display());
    ASSERT_TRUE(made_busy) << debug_text(made_busy.error());
    EXPECT_EQ((*made_busy)->read(), busy);
    grab.reset();
    std::this_thread::sleep_for(busy_retry);
    EXPECT_EQ((*made_busy)->read(), Content{"written while busy"});

    // A display that stopped listening is gone.
    {
        ServerGrab last(server.display());
        EXPECT_EQ((*made_busy)->read(), busy);
    }
    server.kill();
    std::this_thread::sleep_for(busy_retry);
    auto gone = (*made_busy)->read();
    ASSERT_FALSE(gone);
    EXPECT_TRUE(std::holds_alternative<MyError::TerminalClipboard>(gone.error().value))
        << debug_text(gone.error());
}

TEST(X11Clipboard, LostServerFailsReadsWithTheConnectionError) {
    struct Case {
        const char* name;
        bool during_the_read; // else before it
    };
    for (const Case c : {Case{"before the read", false}, Case{"during the read", true}}) {
        SCOPED_TRACE(c.name);
        XvfbServer server;
        auto clipboard = open_on(server);
        ASSERT_EQ(clipboard->get().value_or("?"), "");
        std::optional<ScriptedOwner> silent; // keeps the read waiting
        std::future<std::expected<std::string, MyError>> read;
        if (c.during_the_read) {
            silent.emplace(server.display(),
                           ScriptedOwner::Script{.reply = ScriptedOwner::Script::Reply::none,
                                                 .type = "UTF8_STRING",
                                                 .bytes = ""});
            read = std::async(std::launch::async, [&] { return clipboard->get(); });
            // The read waits on the owner's answer when the server goes.
            ASSERT_TRUE(eventually([&] { return silent->requests() > 0; }));
            server.kill();
        } else {
            server.kill();
            read = std::async(std::launch::async, [&] { return clipboard->get(); });
        }
        auto text = read.get();
        silent.reset();
        ASSERT_FALSE(text.has_value()) << "read \"" << *text << "\"";
        const auto* terminal = std::get_if<MyError::TerminalClipboard>(&text.error().value);
        ASSERT_NE(terminal, nullptr) << debug_text(text.error());
        EXPECT_FALSE(terminal->error.stdio.has_value());
        EXPECT_EQ(display_text(terminal->error.inner),
                  "clipboard error: X11 clipboard error : XCB connection error: Connection");
    }
}

TEST(X11Clipboard, WatchReturnsTheChangedText) {
    XvfbServer server;
    auto clipboard = open_on(server);
    ASSERT_TRUE(clipboard->set("old"));
    auto watched = std::async(std::launch::async, [&] { return clipboard->watch(); });
    EXPECT_EQ(watched.wait_for(1500ms), std::future_status::timeout);
    XclipOwner other(server.display(), "new");
    ASSERT_EQ(watched.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(watched.get().value_or("?"), "new");
}

} // namespace
} // namespace quillfen::test
