// The service's Wayland backend against headless sway and weston, with wl-copy and
// wl-paste as the other clients.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "debug_text.hpp"
#include "error.hpp"
#include "tests/backends/serving_threads.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/process_state.hpp"
#include "tests/servers/scoped_environment.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/wlclip/test_owner.hpp"
#include "tests/wlclip/use_compositor.hpp"
#include "wlr_clipboard.hpp"

namespace quillfen {
namespace {

using namespace std::chrono_literals;
using test::environment_compositor;
using test::ScopedEnvironment;
using test::use_compositor;
using test::wl_copy;
using test::wl_paste;

// What `read` gave, or "<error>" with the error failing the test.
Content read_content(WlrClipboard& clipboard) {
    auto content = clipboard.read();
    EXPECT_TRUE(content.has_value()) << debug_text(content.error());
    return content.value_or(Content{"<error>"});
}

std::string error_text(const std::expected<std::string, MyError>& result) {
    return result ? "no error, text " + debug_text(*result) : debug_text(result.error());
}

TEST(WlrClipboardObject, DebugTextAndDisplay) {
    WlrClipboard clipboard("wayland-0");
    EXPECT_EQ(debug_text(clipboard), R"(WlrClipboard { display: "wayland-0" })");
    EXPECT_EQ(alternate_debug_text(clipboard), "WlrClipboard {\n    display: \"wayland-0\",\n}");
    EXPECT_EQ(clipboard.display(), "wayland-0");
}

// Points the environment at `compositor` (the clipboard reads XDG_RUNTIME_DIR when it is made);
// its socket name.
std::string socket_in_environment(const test::HeadlessCompositor& compositor,
                                  ScopedEnvironment& environment) {
    use_compositor(compositor, environment);
    return compositor.socket_name();
}

class WlrClipboardOnSway : public ::testing::Test {
  protected:
    // First, so that it is there for the clipboard and put back after everything else is gone.
    ScopedEnvironment environment_;
    test::SwayServer sway_;
    WlrClipboard clipboard_{socket_in_environment(sway_, environment_)};
};

TEST_F(WlrClipboardOnSway, SelectionsWithoutTextReadAsTheEmptyText) {
    environment_.set("WAYLAND_DISPLAY", "wayland-250"); // the object must use its own
    EXPECT_EQ(clipboard_.get(), "") << "no selection yet";
    EXPECT_STREQ(std::getenv("WAYLAND_DISPLAY"), "wayland-250") << "the environment is left alone";
    use_compositor(sway_, environment_); // for wl-copy
    wl_copy(environment_compositor, "\x89PNG\r\n", {"-t", "image/png"});
    EXPECT_EQ(clipboard_.get(), "") << "only an image type";
}

TEST_F(WlrClipboardOnSway, TextComesBackWhole) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string text;
    };
    const std::string r = "\xEF\xBF\xBD";
    const Case cases[] = {
        {"trailing newline kept", "two lines\nend\n", "two lines\nend\n"},
        {"blanks kept", "  padded  ", "  padded  "},
        {"invalid UTF-8",
         "a\xF1\x80\x80\xE1\x80\xC2"
         "b\x80"
         "c\x80\xBF"
         "d",
         "a" + r + r + r + "b" + r + "c" + r + r + "d"},
        {"valid UTF-8", "gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80",
         "gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80"},
        {"large", std::string(300000, 'x') + "\n", std::string(300000, 'x') + "\n"},
    };
    for (const Case& c : cases) {
        wl_copy(environment_compositor, c.bytes);
        auto text = clipboard_.get();
        ASSERT_TRUE(text) << c.what << ": " << error_text(text);
        EXPECT_EQ(*text, c.text) << c.what;
    }
}

TEST_F(WlrClipboardOnSway, AnHtmlOnlySelectionReadsAsItsMarkup) {
    test::TestOwner owner(test::address_of(sway_), {"text/html"},
                          [](const std::string&, util::UniqueFd fd) {
                              [[maybe_unused]] auto n = ::write(fd.get(), "<p>hi</p>", 9);
                          });
    EXPECT_EQ(clipboard_.get(), "<p>hi</p>");
}

TEST_F(WlrClipboardOnSway, AStuckOwnerGivesATimedOutIoError) {
    std::mutex mutex;
    std::vector<util::UniqueFd> held;
    test::TestOwner owner(test::address_of(sway_), {"UTF8_STRING"},
                          [&](const std::string&, util::UniqueFd fd) {
                              std::lock_guard lock(mutex);
                              held.push_back(std::move(fd));
                          });
    auto start = std::chrono::steady_clock::now();
    auto text = clipboard_.get();
    const auto took = std::chrono::steady_clock::now() - start;
    // Given up at the read's limit, not before it, and with time to spare after it.
    EXPECT_GE(took, wlclip::read_limit);
    EXPECT_LT(took, 10s);
    ASSERT_FALSE(text);
    EXPECT_EQ(debug_text(text.error()),
              R"(Io(Os { code: 110, kind: TimedOut, message: "Connection timed out" }))");
}

// What `read` makes of each selection: none is the empty text; one that gives no UTF-8 text is a
// selection without text, which the service leaves alone.
TEST_F(WlrClipboardOnSway, ReadTellsASelectionWithoutTextFromNoSelection) {
    auto read = [&] {
        auto content = clipboard_.read();
        EXPECT_TRUE(content.has_value()) << debug_text(content.error());
        return content.value_or(Content{"<error>"});
    };
    EXPECT_EQ(read(), Content{""}) << "no selection yet";
    struct Case {
        const char* what;
        std::vector<std::string> args; // of wl-copy
        std::string bytes;
        Content content;
    };
    const Case cases[] = {
        {"a text", {}, "theirs", Content{"theirs"}},
        {"an image only", {"-t", "image/png"}, "\x89PNG\r\n", Content{}},
        {"a cleared selection", {"--clear"}, "", Content{""}},
        {"bytes that are not UTF-8", {}, "a\xC3\x28", Content{}},
        {"a text again", {}, "again", Content{"again"}},
        // wl-copy offers the text types beside a text/ type it is given.
        {"formatted text",
         {"-t", "text/html"},
         "<b>bold</b> words",
         Content{"<b>bold</b> words", true}},
        {"a plain text type", {"-t", "text/plain"}, "plain", Content{"plain"}},
    };
    for (const Case& c : cases) {
        wl_copy(environment_compositor, c.bytes, c.args);
        EXPECT_EQ(read(), c.content) << c.what;
    }
    // Text in another charset only: its bytes are not the UTF-8 of that text.
    struct OwnerCase {
        const char* type;
        std::string bytes;
    };
    const OwnerCase owner_cases[] = {
        {"text/plain;charset=utf-16", std::string("h\0e\0l\0l\0o\0", 10)},
        {"text/plain;charset=UTF-32", std::string("h\0\0\0i\0\0\0", 8)},
    };
    for (const OwnerCase& c : owner_cases) {
        test::TestOwner owner(
            test::address_of(sway_), {c.type}, [&](const std::string&, util::UniqueFd fd) {
                [[maybe_unused]] auto n = ::write(fd.get(), c.bytes.data(), c.bytes.size());
            });
        EXPECT_EQ(read(), Content{}) << c.type;
    }
    for (const std::string own : {"ours", "", "a\xC3\x28"}) {
        ASSERT_TRUE(clipboard_.set(own));
        EXPECT_EQ(read(), own == "ours" || own.empty() ? Content{own} : Content{}) << "own " << own;
    }
}

// Writes chunks of `chunk_size` bytes to `fd` until the reader goes, or for a minute at most;
// `pause` between writes.
void write_without_end(const util::UniqueFd& fd, std::size_t chunk_size,
                       std::chrono::milliseconds pause, const std::stop_token& stop) {
    const std::string chunk(chunk_size, 'x');
    const auto until = std::chrono::steady_clock::now() + 60s;
    while (!stop.stop_requested() && std::chrono::steady_clock::now() < until) {
        if (::write(fd.get(), chunk.data(), chunk.size()) < 0)
            return;
        std::this_thread::sleep_for(pause);
    }
}

// An owner that sends nothing, one that never stops sending, and one that sends faster than a read
// may take, are each a selection without text once the read gives up; `get` reports why.
TEST_F(WlrClipboardOnSway, AnOwnerThatDoesNotFinishIsASelectionWithoutText) {
    ::signal(SIGPIPE, SIG_IGN); // the endless writer meets a closed pipe
    enum class Writes { nothing, slowly, fast };
    struct Case {
        const char* what;
        Writes writes;
        const char* error;
    };
    const char* timed_out =
        R"(Io(Os { code: 110, kind: TimedOut, message: "Connection timed out" }))";
    const Case cases[] = {
        {"silent", Writes::nothing, timed_out},
        {"never stops writing", Writes::slowly, timed_out},
        {"past the size limit", Writes::fast,
         R"(Io(Os { code: 27, kind: FileTooLarge, message: "File too large" }))"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::mutex mutex;
        std::vector<util::UniqueFd> held;
        std::vector<std::jthread> writers;
        {
            test::TestOwner owner(
                test::address_of(sway_), {"UTF8_STRING"},
                [&](const std::string&, util::UniqueFd fd) {
                    std::lock_guard lock(mutex);
                    if (c.writes == Writes::nothing) {
                        held.push_back(std::move(fd));
                        return;
                    }
                    // Never idle for long, but never done within a minute either.
                    const bool fast = c.writes == Writes::fast;
                    writers.emplace_back([fd = std::move(fd), fast](std::stop_token stop) {
                        write_without_end(fd, fast ? 1 << 16 : 4096, fast ? 0ms : 10ms, stop);
                    });
                });
            // Each reader its own: one that gave up leaves the selection alone for a while.
            WlrClipboard reader(sway_.socket_name());
            EXPECT_EQ(read_content(reader), Content{});
            WlrClipboard getter(sway_.socket_name());
            auto text = getter.get();
            ASSERT_FALSE(text);
            EXPECT_EQ(debug_text(text.error()), c.error);
        }
        std::lock_guard lock(mutex);
        writers.clear();
    }
}

// A half text is no text: an owner that exits after writing half, or whose selection another
// client replaces meanwhile, leaves an end of data all the same. The read is a selection without
// text, and the next one reads the selection anew.
TEST_F(WlrClipboardOnSway, AReadWhoseOfferIsNoLongerTheSelectionIsNoText) {
    ::signal(SIGPIPE, SIG_IGN);
    enum class Then { owner_exits, another_copies };
    struct Case {
        const char* what;
        Then then;
        Content next;
    };
    const Case cases[] = {
        {"the owner exits", Then::owner_exits, Content{""}},
        {"another client copies", Then::another_copies, Content{"another"}},
    };
    const auto no_selection = [&] {
        auto contents = wlclip::Clipboard(test::address_of(sway_)).get_contents();
        return !contents && std::holds_alternative<wlclip::paste::ClipboardEmpty>(contents.error());
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::mutex mutex;
        std::jthread finisher;
        std::optional<test::TestOwner> owner;
        // The owner's own thread cannot end the owner, so another one finishes the transfer.
        owner.emplace(test::address_of(sway_), std::vector<std::string>{"UTF8_STRING"},
                      [&](const std::string&, util::UniqueFd fd) {
                          [[maybe_unused]] auto n = ::write(fd.get(), "AAAAA", 5);
                          std::lock_guard lock(mutex);
                          finisher = std::jthread([&, fd = std::move(fd)]() mutable {
                              if (c.then == Then::owner_exits) {
                                  owner.reset(); // its connection closes with it
                                  EXPECT_TRUE(test::eventually(no_selection));
                              } else {
                                  wl_copy(environment_compositor, "another");
                                  [[maybe_unused]] auto m = ::write(fd.get(), "BBBBB", 5);
                              }
                              fd.reset();
                          });
                      });
        EXPECT_EQ(read_content(clipboard_), Content{});
        {
            std::lock_guard lock(mutex);
            finisher = {};
        }
        owner.reset();
        EXPECT_EQ(read_content(clipboard_), c.next) << "the next read";
    }
}

// After a read gave up, the compositor's selection is left alone for a while: each read connects
// anew, so nothing tells the same endless copy from a new one. A new copy is read after that.
TEST_F(WlrClipboardOnSway, AfterAReadGaveUpTheSelectionIsLeftAloneForAWhile) {
    ::signal(SIGPIPE, SIG_IGN);
    std::atomic<int> requests = 0;
    std::mutex mutex;
    std::vector<std::jthread> writers;
    {
        test::TestOwner owner(test::address_of(sway_), {"UTF8_STRING"},
                              [&](const std::string&, util::UniqueFd fd) {
                                  ++requests;
                                  std::lock_guard lock(mutex);
                                  writers.emplace_back([fd = std::move(fd)](std::stop_token stop) {
                                      write_without_end(fd, 1 << 16, 0ms, stop);
                                  });
                              });
        EXPECT_EQ(read_content(clipboard_), Content{});
        EXPECT_EQ(requests, 1);
        EXPECT_EQ(read_content(clipboard_), Content{}) << "read again at once";
        auto text = clipboard_.get();
        ASSERT_FALSE(text);
        EXPECT_EQ(debug_text(text.error()),
                  R"(Io(Os { code: 27, kind: FileTooLarge, message: "File too large" }))")
            << "the same give-up";
        EXPECT_EQ(requests, 1) << "the owner was asked again";
    }
    {
        std::lock_guard lock(mutex);
        writers.clear();
    }
    use_compositor(sway_, environment_); // for wl-copy
    wl_copy(environment_compositor, "a new copy");
    std::this_thread::sleep_for(BackOff::first); // it began before
    EXPECT_EQ(read_content(clipboard_), Content{"a new copy"});
}

TEST_F(WlrClipboardOnSway, SetThenGetAndOtherReaders) {
    for (const std::string text : {"first", "", "caf\xC3\xA9\n", "last one"}) {
        ASSERT_TRUE(clipboard_.set(text)) << debug_text(text);
        EXPECT_EQ(clipboard_.get(), text) << "read right after the write";
    }
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(wl_paste(environment_compositor), "last one") << "request " << i;
    EXPECT_EQ(test::serving_threads(), 1);
}

// Our own offer is answered from memory; once another client has replaced it, the read is
// theirs at once.
TEST_F(WlrClipboardOnSway, AfterOurOwnTextAnotherClientsSelectionIsRead) {
    struct Case {
        const char* what;
        std::vector<std::string> args; // of the other client's wl-copy
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"a text", {}, "theirs", "theirs"},
        {"an image only", {"-t", "image/png"}, "\x89PNG\r\n", ""},
        {"a cleared selection", {"--clear"}, "", ""},
    };
    for (int round = 0; round < 3; ++round) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", round " + std::to_string(round));
            const std::string ours = "ours " + std::to_string(round);
            ASSERT_TRUE(clipboard_.set(ours));
            ASSERT_EQ(clipboard_.get(), ours);
            ASSERT_EQ(clipboard_.holds_own_text(), true);
            wl_copy(environment_compositor, c.bytes, c.args);
            EXPECT_EQ(clipboard_.holds_own_text(), false);
            EXPECT_EQ(clipboard_.get(), c.text);
        }
    }
}

// Our own bytes read as a transfer of them reads: invalid UTF-8 is replaced the same way.
TEST_F(WlrClipboardOnSway, OwnBytesReadAsATransferOfThemReads) {
    const std::string r = "\xEF\xBF\xBD";
    const std::string bytes = "a\xF1\x80\x80\xE1\x80\xC2"
                              "b\x80"
                              "c\x80\xBF"
                              "d";
    ASSERT_TRUE(clipboard_.set(bytes));
    EXPECT_EQ(clipboard_.get(), "a" + r + r + r + "b" + r + "c" + r + r + "d");
    EXPECT_EQ(wl_paste(environment_compositor), bytes) << "other readers get the bytes unchanged";
    // A read would not return our bytes, so they do not count as our text; each offer anew.
    for (const std::string& offer : {bytes, std::string("valid"), bytes}) {
        ASSERT_TRUE(clipboard_.set(offer));
        EXPECT_EQ(clipboard_.holds_own_text(), offer == "valid");
    }
}

TEST_F(WlrClipboardOnSway, TwoSetsInARowLeaveOneServingThread) {
    ASSERT_TRUE(clipboard_.set("one"));
    ASSERT_TRUE(clipboard_.set("two"));
    EXPECT_TRUE(test::eventually([] { return test::serving_threads() == 1; }));
    EXPECT_EQ(wl_paste(environment_compositor), "two");
    wl_copy(environment_compositor, "elsewhere");
    EXPECT_TRUE(test::eventually([] { return test::serving_threads() == 0; }));
}

// The watch waits for the change, however late it comes, and returns its text.
TEST_F(WlrClipboardOnSway, WatchReturnsWithAChange) {
    ASSERT_TRUE(clipboard_.set("before"));
    std::thread changer([&] {
        std::this_thread::sleep_for(1500ms);
        wl_copy(environment_compositor, "after");
    });
    auto text = clipboard_.watch();
    changer.join();
    EXPECT_EQ(text, "after");
}

TEST(WlrClipboardErrors, ConnectionKinds) {
    std::string dir = (std::filesystem::temp_directory_path() / "wlr-empty.XXXXXX");
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    ScopedEnvironment environment;
    environment.unset("WAYLAND_SOCKET");
    environment.set("XDG_RUNTIME_DIR", dir);
    WlrClipboard clipboard("wayland-9");

    EXPECT_EQ(error_text(clipboard.get()), "WlcrsPaste(WaylandConnection(NoCompositorListening))");
    auto set = clipboard.set("x");
    ASSERT_FALSE(set);
    EXPECT_EQ(debug_text(set.error()), "WlcrsCopy(WaylandConnection(NoCompositorListening))");

    // The runtime directory is read when the clipboard is made.
    environment.unset("XDG_RUNTIME_DIR");
    WlrClipboard without_dir("wayland-9");
    EXPECT_EQ(error_text(without_dir.get()), "WlcrsPaste(WaylandConnection(XdgRuntimeDirNotSet))");
    set = without_dir.set("x");
    ASSERT_FALSE(set);
    EXPECT_EQ(debug_text(set.error()), "WlcrsCopy(WaylandConnection(XdgRuntimeDirNotSet))");
    std::filesystem::remove_all(dir);
}

TEST(WlrClipboardErrors, WestonLacksTheProtocol) {
    test::WestonServer weston;
    ScopedEnvironment environment;
    use_compositor(weston, environment);
    WlrClipboard clipboard(weston.socket_name());
    EXPECT_EQ(
        error_text(clipboard.get()),
        R"(WlcrsPaste(MissingProtocol { name: "zwlr_data_control_manager_v1", version: 1 }))");
    auto set = clipboard.set("x");
    ASSERT_FALSE(set);
    EXPECT_EQ(debug_text(set.error()),
              R"(WlcrsCopy(MissingProtocol { name: "zwlr_data_control_manager_v1", version: 1 }))");
}

std::expected<void, wlclip::copy::Error> failing_copy(std::string) {
    throw std::runtime_error("serving thread could not start");
}

std::expected<void, wlclip::copy::Error> refusing_copy(std::string bytes) {
    if (bytes != "exact bytes")
        throw std::logic_error("the copy got other bytes");
    return std::unexpected(wlclip::copy::NoSeats{});
}

TEST(CatchCopy, AFailureOnTheCallingThreadIsPrintedAndCaught) {
    ::testing::internal::CaptureStderr();
    auto caught = catch_copy("text", failing_copy);
    std::string printed = ::testing::internal::GetCapturedStderr();
    ASSERT_FALSE(caught);
    EXPECT_TRUE(std::holds_alternative<AnyPayload>(caught.error()));
    EXPECT_EQ(printed, "serving thread could not start\n");

    auto refused = catch_copy("exact bytes", refusing_copy);
    ASSERT_FALSE(refused);
    auto* kind = std::get_if<wlclip::copy::Error>(&refused.error());
    ASSERT_NE(kind, nullptr);
    EXPECT_TRUE(std::holds_alternative<wlclip::copy::NoSeats>(*kind));
}

} // namespace
} // namespace quillfen
