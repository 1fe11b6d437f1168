// Reading the selection: type choice, the error kinds a real compositor shows (another user's
// among them), the pipe handed back, and the time and size limits.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>

#include "tests/servers/child_process.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/process_state.hpp"
#include "tests/servers/scoped_environment.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/servers/test_accounts.hpp"
#include "tests/servers/watched_process.hpp"
#include "tests/wlclip/counting_listener.hpp"
#include "tests/wlclip/test_owner.hpp"
#include "tests/wlclip/use_compositor.hpp"
#include "util/unix_socket.hpp"
#include "wlclip/mime.hpp"
#include "wlclip/wlclip.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;
using wlclip::ConnectError;
namespace paste = wlclip::paste;

std::string read_text(wlclip::Contents& contents) {
    auto bytes = wlclip::read_to_end(contents.pipe.get());
    EXPECT_TRUE(bytes.has_value()) << "read failed, errno " << bytes.error().code;
    return bytes.value_or("");
}

TEST(TextTypeChoice, FollowsThePreferenceOrder) {
    struct Case {
        std::vector<std::string> offered;
        std::optional<std::string> chosen;
    };
    const Case cases[] = {
        {{"UTF8_STRING", "text/plain;charset=utf-8"}, "text/plain;charset=utf-8"},
        {{"TEXT", "STRING", "UTF8_STRING"}, "UTF8_STRING"},
        {{"image/png", "STRING", "text/plain"}, "text/plain"},
        {{"text/html", "TEXT", "STRING"}, "TEXT"},
        {{"text/html", "text/plain"}, "text/plain"},
        {{"text/html", "STRING"}, "STRING"},
        {{"image/png", "text/html"}, "text/html"},
        {{"TEXT"}, "TEXT"},
        {{"image/png", "application/json", "text"}, std::nullopt},
        {{"text/plain;charset=UTF-8x", "UTF8_STRINGS"}, std::nullopt},
        {{"text/plain;charset=UTF-8", "text/html"}, "text/plain;charset=UTF-8"},
        // Only UTF-8 is text: bytes in another charset would spread as if they were UTF-8.
        {{"text/plain;charset=utf-16", "text/plain"}, "text/plain"},
        {{"text/plain;charset=utf-16", "text/html"}, "text/html"},
        {{"text/plain;charset=UTF-32", "text/plain; charset=\"utf8\""},
         "text/plain; charset=\"utf8\""},
        {{"text/plain;charset=utf-16le", "text/plain;charset=us-ascii"},
         "text/plain;charset=us-ascii"},
        {{"text/plain;charset=utf-16", "text/plain;charset=utf-32"}, std::nullopt},
        {{"text/html;charset=iso-8859-1"}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wlclip::choose_text_type(c.offered), c.chosen)
            << ::testing::PrintToString(c.offered);
}

class PasteOnSway : public ::testing::Test {
  protected:
    void SetUp() override { use_compositor(sway_, environment_); }
    // First, so that it is put back after everything else is gone.
    ScopedEnvironment environment_;
    SwayServer sway_;
    wlclip::Clipboard clipboard_{address_of(sway_)};
};

TEST_F(PasteOnSway, AnEmptySelectionIsClipboardEmpty) {
    auto contents = clipboard_.get_contents();
    ASSERT_FALSE(contents);
    EXPECT_TRUE(std::holds_alternative<paste::ClipboardEmpty>(contents.error()));
}

TEST_F(PasteOnSway, OnlyImageTypesIsNoMimeType) {
    wl_copy(environment_compositor, "\x89PNG\r\n", {"-t", "image/png"});
    auto contents = clipboard_.get_contents();
    ASSERT_FALSE(contents);
    EXPECT_TRUE(std::holds_alternative<paste::NoMimeType>(contents.error()));
}

// Each type answers with its own name, so the text shows which type was asked for.
TestOwner::Handler answer_with_type() {
    return [](const std::string& type, util::UniqueFd fd) {
        [[maybe_unused]] auto n = ::write(fd.get(), type.data(), type.size());
    };
}

TEST_F(PasteOnSway, ChoosesAmongTheOfferedTypes) {
    struct Case {
        std::vector<std::string> offered;
        std::string chosen;
    };
    const Case cases[] = {
        {{"UTF8_STRING", "text/plain;charset=utf-8"}, "text/plain;charset=utf-8"},
        {{"image/png", "text/html"}, "text/html"},
        {{"STRING", "UTF8_STRING"}, "UTF8_STRING"},
    };
    for (const Case& c : cases) {
        TestOwner owner(address_of(sway_), c.offered, answer_with_type());
        auto contents = clipboard_.get_contents();
        ASSERT_TRUE(contents) << "error index " << contents.error().index();
        EXPECT_EQ(contents->mime_type, c.chosen);
        EXPECT_EQ(read_text(*contents), c.chosen);
    }
}

TEST_F(PasteOnSway, AnHtmlOnlySelectionIsReadAsMarkup) {
    TestOwner owner(address_of(sway_), {"text/html"}, [](const std::string&, util::UniqueFd fd) {
        [[maybe_unused]] auto n = ::write(fd.get(), "<b>bold</b>", 11);
    });
    auto contents = clipboard_.get_contents();
    ASSERT_TRUE(contents);
    EXPECT_EQ(read_text(*contents), "<b>bold</b>");
}

TEST_F(PasteOnSway, BytesOfAnotherClientArriveUnchanged) {
    const std::string bytes = "line\n\xff\xc3 caf\xc3\xa9\n";
    wl_copy(environment_compositor, bytes);
    auto contents = clipboard_.get_contents();
    ASSERT_TRUE(contents);
    EXPECT_EQ(contents->mime_type, "text/plain;charset=utf-8");
    EXPECT_EQ(read_text(*contents), bytes);
}

TEST_F(PasteOnSway, ThePipeIsBlockingAndCloseOnExec) {
    wl_copy(environment_compositor, "x");
    auto contents = clipboard_.get_contents();
    ASSERT_TRUE(contents);
    int fd = contents->pipe.get();
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_FALSE(::fcntl(fd, F_GETFL) & O_NONBLOCK);
    EXPECT_EQ(read_text(*contents), "x");
}

// What the compositor tells once the data has ended is of a later moment: the text came whole,
// however soon after its end the owner went (a copy that serves one paste) or another copy was
// made, and even when the read meets the end only after hearing of it.
TEST_F(PasteOnSway, WhatHappensOnceTheDataHasEndedLeavesTheTextWhole) {
    enum class Then { owner_goes, another_copies };
    for (const Then then : {Then::owner_goes, Then::another_copies}) {
        SCOPED_TRACE(then == Then::owner_goes ? "the owner goes" : "another client copies");
        std::atomic<bool> served = false;
        std::optional<TestOwner> owner;
        owner.emplace(address_of(sway_), std::vector<std::string>{"UTF8_STRING"},
                      [&](const std::string&, util::UniqueFd fd) {
                          [[maybe_unused]] auto n = ::write(fd.get(), "served once", 11);
                          fd.reset();
                          served = true;
                      });
        auto contents = clipboard_.get_contents();
        ASSERT_TRUE(contents);
        ASSERT_TRUE(eventually([&] { return served.load(); }));
        std::string next;
        if (then == Then::owner_goes) {
            owner.reset();
        } else {
            wl_copy(environment_compositor, "another");
            next = "another";
        }
        // Every client has been told by now, the one the read follows the selection on too.
        ASSERT_TRUE(eventually([&] {
            auto now = wlclip::Clipboard(address_of(sway_)).get_contents();
            if (!now)
                return next.empty() && std::holds_alternative<paste::ClipboardEmpty>(now.error());
            return read_text(*now) == next;
        }));
        EXPECT_EQ(contents->read_text(), "served once");
        EXPECT_TRUE(contents->selected_at_end());
    }
}

TEST_F(PasteOnSway, AStuckOwnerEndsTheReadWithATimeOut) {
    std::mutex held_mutex;
    std::vector<util::UniqueFd> held; // never written, never closed while the test runs
    TestOwner owner(address_of(sway_), {"text/plain;charset=utf-8"},
                    [&](const std::string&, util::UniqueFd fd) {
                        std::lock_guard lock(held_mutex);
                        held.push_back(std::move(fd));
                    });
    auto contents = clipboard_.get_contents();
    ASSERT_TRUE(contents);
    auto start = std::chrono::steady_clock::now();
    auto bytes = wlclip::read_to_end(contents->pipe.get());
    auto waited = std::chrono::steady_clock::now() - start;
    ASSERT_FALSE(bytes);
    EXPECT_EQ(bytes.error().code, ETIMEDOUT);
    EXPECT_GE(waited, wlclip::pipe_idle_limit - 100ms);
    EXPECT_LT(waited, 10s);
}

// A text up to the size limit comes whole; one byte more and the read gives up.
TEST(ReadToEnd, BytesUpToTheSizeLimitComeWhole) {
    ::signal(SIGPIPE, SIG_IGN); // a writer given up on meets the closed pipe
    struct Case {
        std::size_t size;
        std::size_t limit;
        bool whole;
    };
    const Case cases[] = {
        {0, 0, true},
        {100000, 100000, true},
        {100001, 100000, false},
        {64u << 20, wlclip::read_size_limit, true}, // the longest text the service carries
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        util::UniqueFd read_end(ends[0]);
        std::string text(c.size, 'a');
        for (std::size_t i = 0; i < text.size(); i += 4093)
            text[i] = static_cast<char>('b' + i % 23); // shows a lost or misplaced piece
        std::string read;
        std::optional<int> error;
        {
            std::jthread writer([&text, fd = util::UniqueFd(ends[1])] {
                for (std::string_view rest = text; !rest.empty();) {
                    const ssize_t n = ::write(fd.get(), rest.data(), rest.size());
                    if (n <= 0)
                        return;
                    rest.remove_prefix(static_cast<std::size_t>(n));
                }
            });
            auto bytes = wlclip::read_to_end(read_end.get(), wlclip::pipe_idle_limit,
                                             wlclip::read_limit, c.limit);
            read_end.reset();
            if (bytes)
                read = std::move(*bytes);
            else
                error = bytes.error().code;
        }
        if (c.whole) {
            EXPECT_EQ(error, std::nullopt);
            EXPECT_EQ(read.size(), text.size());
            EXPECT_TRUE(read == text);
        } else {
            EXPECT_EQ(error, EFBIG);
        }
    }
}

// A writer that never stops is given up on once the bytes would pass the size limit, so the
// read holds no more than that.
TEST(ReadToEnd, AWriterThatNeverStopsIsGivenUpAtTheSizeLimit) {
    ::signal(SIGPIPE, SIG_IGN); // the writer meets the closed pipe
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    util::UniqueFd read_end(ends[0]);
    const auto in_pipe = static_cast<std::size_t>(::fcntl(ends[0], F_GETPIPE_SZ));
    std::atomic<std::size_t> written = 0;
    {
        std::jthread writer([&written, fd = util::UniqueFd(ends[1])] {
            const std::string chunk(1 << 16, 'w');
            for (ssize_t n; (n = ::write(fd.get(), chunk.data(), chunk.size())) > 0;)
                written += static_cast<std::size_t>(n);
        });
        auto read = wlclip::read_to_end(read_end.get());
        read_end.reset();
        ASSERT_FALSE(read.has_value()) << read->size() << " bytes";
        EXPECT_EQ(read.error().code, EFBIG);
    }
    // Beside what was read, the pipe's buffer and the write under way.
    EXPECT_LE(written, wlclip::read_size_limit + in_pipe + (1u << 16));
}

TEST_F(PasteOnSway, AnInheritedSocketIsUsedAndRemovedFromTheEnvironment) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const auto address = util::UnixAddress::path(sway_.runtime_dir() + "/" + sway_.socket_name());
    ASSERT_EQ(::connect(fd, address->get(), address->length), 0);
    environment_.set("WAYLAND_SOCKET", std::to_string(fd));
    environment_.set("WAYLAND_DISPLAY", "wayland-200"); // would fail if it were used

    auto contents = wlclip::Clipboard(wlclip::Address::from_environment()).get_contents();
    ASSERT_FALSE(contents);
    EXPECT_TRUE(std::holds_alternative<paste::ClipboardEmpty>(contents.error()));
    EXPECT_EQ(std::getenv("WAYLAND_SOCKET"), nullptr);
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "the connection's descriptor is closed with it";
}

// A read from the compositor the environment names.
paste::Error paste_error() {
    auto contents = wlclip::Clipboard(wlclip::Address::from_environment()).get_contents();
    EXPECT_FALSE(contents);
    return contents ? paste::Error{} : contents.error();
}

ConnectError connect_error(const paste::Error& error) {
    auto* failed = std::get_if<paste::WaylandConnection>(&error);
    EXPECT_NE(failed, nullptr) << "error index " << error.index();
    return failed ? failed->kind : ConnectError::NoWaylandLib;
}

class EmptyRuntimeDir : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "wlclip-empty.XXXXXX");
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        environment_.unset("WAYLAND_SOCKET");
        environment_.set("XDG_RUNTIME_DIR", dir_);
        environment_.set("WAYLAND_DISPLAY", "wayland-0");
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    ScopedEnvironment environment_;
    std::string dir_;
};

TEST_F(EmptyRuntimeDir, ConnectionKinds) {
    EXPECT_EQ(connect_error(paste_error()), ConnectError::NoCompositorListening);

    environment_.unset("XDG_RUNTIME_DIR");
    EXPECT_EQ(connect_error(paste_error()), ConnectError::XdgRuntimeDirNotSet);

    for (const char* socket : {"abc", "-1", "12x", "987654"}) {
        environment_.set("WAYLAND_SOCKET", socket);
        EXPECT_EQ(connect_error(paste_error()), ConnectError::InvalidFd) << socket;
        EXPECT_EQ(std::getenv("WAYLAND_SOCKET"), nullptr);
    }

    environment_.set("XDG_RUNTIME_DIR", dir_);
    environment_.set("WAYLAND_DISPLAY", std::string(200, 'w'));
    EXPECT_EQ(connect_error(paste_error()), ConnectError::InvalidName);
}

// A compositor that accepts connections and never answers.
TEST_F(EmptyRuntimeDir, AHungCompositorTimesOut) {
    const UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const auto address = util::UnixAddress::path(dir_ + "/wayland-0");
    ASSERT_EQ(::bind(listener.get(), address->get(), address->length), 0);
    ASSERT_EQ(::listen(listener.get(), 8), 0);

    auto start = std::chrono::steady_clock::now();
    paste::Error pasted = paste_error();
    auto* pasted_io = std::get_if<paste::WaylandCommunication>(&pasted);
    ASSERT_NE(pasted_io, nullptr) << "error index " << pasted.index();
    EXPECT_EQ(pasted_io->io.code, ETIMEDOUT);

    auto copied = wlclip::Clipboard(wlclip::Address::from_environment()).copy_text("never served");
    ASSERT_FALSE(copied);
    auto* copied_io = std::get_if<wlclip::copy::WaylandCommunication>(&copied.error());
    ASSERT_NE(copied_io, nullptr) << "error index " << copied.error().index();
    EXPECT_EQ(copied_io->io.code, ETIMEDOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

// A compositor on the other end of a socket pair that, once the client's first requests have
// come, sends events without pause and answers no request. The events are global_remove for the
// registry, which a client makes first (object 2): libwayland hands each to the listener, which
// ignores it. A send buffer as large as the system allows keeps events waiting even while this
// thread is not scheduled. It gives up after `limit`.
class EventFlood {
  public:
    explicit EventFlood(std::chrono::milliseconds limit) {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
            throw std::system_error(errno, std::generic_category(), "socketpair");
        client_ = UniqueFd(ends[0]);
        server_ = UniqueFd(ends[1]);
        const int size = 4 << 20; // capped by the system's limit
        ::setsockopt(server_.get(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        thread_ = std::jthread([this, limit](std::stop_token stop) { flood(stop, limit); });
    }
    ~EventFlood() {
        thread_.request_stop();
        ::shutdown(server_.get(), SHUT_RDWR); // a receive or send under way returns
    }
    EventFlood(const EventFlood&) = delete;
    EventFlood& operator=(const EventFlood&) = delete;

    UniqueFd take_client() { return std::move(client_); }
    bool gave_up() const { return gave_up_; }
    std::uint64_t sent() const { return sent_; }

  private:
    void flood(const std::stop_token& stop, std::chrono::milliseconds limit) {
        char request[64];
        if (::recv(server_.get(), request, sizeof request, 0) <= 0)
            return;
        // Object 2, then size << 16 | opcode (global_remove is 1), then the global's name.
        constexpr std::uint32_t event[] = {2, 12u << 16 | 1, 7};
        std::array<std::uint32_t, 3 * 341> batch; // whole events, a page at most
        for (std::size_t i = 0; i < batch.size(); ++i)
            batch[i] = event[i % 3];
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!stop.stop_requested()) {
            if (std::chrono::steady_clock::now() >= until) {
                gave_up_ = true;
                return;
            }
            const auto* bytes = reinterpret_cast<const char*>(batch.data());
            std::size_t left = sizeof batch;
            while (left > 0) {
                const ssize_t n = ::send(server_.get(), bytes, left, MSG_NOSIGNAL);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    return; // the client has gone
                bytes += n;
                left -= static_cast<std::size_t>(n);
            }
            sent_ += batch.size() / 3;
        }
    }

    UniqueFd client_;
    UniqueFd server_;
    std::atomic<bool> gave_up_{false};
    std::atomic<std::uint64_t> sent_{0};
    std::jthread thread_; // last: it ends before the descriptors close
};

TEST(PasteTimeLimits, ACompositorThatNeverStopsSendingEventsStillTimesOut) {
    // Far beyond the round trip's limit: the read must end while the events still come.
    EventFlood flood(20s);
    const auto start = std::chrono::steady_clock::now();
    auto contents =
        wlclip::Clipboard(wlclip::Address::descriptor(flood.take_client())).get_contents();
    const auto waited = std::chrono::steady_clock::now() - start;
    ASSERT_FALSE(contents);
    auto* io = std::get_if<paste::WaylandCommunication>(&contents.error());
    ASSERT_NE(io, nullptr) << "error index " << contents.error().index();
    EXPECT_EQ(io->io.code, ETIMEDOUT);
    EXPECT_GE(waited, wlclip::round_trip_limit);
    EXPECT_GT(flood.sent(), 0u);
    EXPECT_FALSE(flood.gave_up()) << "the round trip ended only once the events stopped";
}

// How a read or a copy ended, in a word a child can report.
template <class Value, class Error>
std::string outcome_of(const std::expected<Value, Error>& result) {
    if (result)
        return "done";
    if (const auto* failed = std::get_if<wlclip::WaylandConnection>(&result.error()))
        return failed->kind == ConnectError::ForeignCompositor
                   ? "another user's"
                   : "connection kind " + std::to_string(static_cast<int>(failed->kind));
    if (const auto* io = std::get_if<wlclip::WaylandCommunication>(&result.error()))
        return io->io.code == ETIMEDOUT ? "timed out" : "errno " + std::to_string(io->io.code);
    return "error index " + std::to_string(result.error().index());
}

// A socket served by another account is left before the handshake: not one byte reaches it,
// from a read or from a copy.
TEST(CompositorOfAnotherUser, GetsNoRequest) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as several users";
    const Account user = test_account(compositor_user);
    struct Case {
        const char* what;
        Account listener;
        std::string outcome;
        bool asked;
    };
    const Case cases[] = {
        {"another user's socket", test_account(other_user),
         "read: another user's, copy: another user's", false},
        // Our own passes the check and is sent the handshake, which it never answers.
        {"our own socket", user, "read: timed out, copy: timed out", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CountingListener listener(c.listener);
        const RunResult result = run_in_child(
            [&] {
                if (!become(user))
                    return 1;
                wlclip::Clipboard clipboard(wlclip::Address::socket(listener.path()));
                const std::string read = outcome_of(clipboard.get_contents());
                note("read: " + read + ", copy: " + outcome_of(clipboard.copy_text("ours")));
                return 0;
            },
            {.timeout = 30s});
        EXPECT_EQ(result.out, c.outcome + "\n") << result.err;
        for (std::size_t sent : listener.ended_connections(2, 20s))
            EXPECT_EQ(sent > 0, c.asked) << sent << " bytes";
    }
}

// A real compositor of another account, reached through a descriptor connected while the
// child was still root, is neither read nor given our text.
TEST(CompositorOfAnotherUser, RealSwayIsNeitherReadNorWritten) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as several users";
    const Account other = test_account(other_user);
    SwayServer sway; // runs as compositor_user
    const WaylandPeer peer{sway.runtime_dir(), sway.socket_name()};
    wl_copy(peer, "the copy of sway's user");
    const auto socket = util::UnixAddress::path(sway.runtime_dir() + "/" + sway.socket_name());
    ASSERT_TRUE(socket);
    const RunResult result = run_in_child(
        [&] {
            const auto connected = [&] {
                UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
                if (fd && ::connect(fd.get(), socket->get(), socket->length) != 0)
                    fd.reset();
                return fd;
            };
            UniqueFd for_read = connected();
            UniqueFd for_copy = connected();
            if (!for_read || !for_copy || !become(other))
                return 1;
            const std::string read = outcome_of(
                wlclip::Clipboard(wlclip::Address::descriptor(std::move(for_read))).get_contents());
            const std::string copied =
                outcome_of(wlclip::Clipboard(wlclip::Address::descriptor(std::move(for_copy)))
                               .copy_text("not for sway's user"));
            note("read: " + read + ", copy: " + copied);
            return 0;
        },
        {.timeout = 30s});
    EXPECT_EQ(result.out, "read: another user's, copy: another user's\n") << result.err;
    EXPECT_EQ(wl_paste(peer), "the copy of sway's user");
}

TEST(PasteOnWeston, ACompositorWithoutDataControlIsMissingProtocol) {
    WestonServer weston;
    wlclip::Clipboard clipboard(address_of(weston));
    auto contents = clipboard.get_contents();
    ASSERT_FALSE(contents);
    const paste::Error& error = contents.error();
    auto* missing = std::get_if<paste::MissingProtocol>(&error);
    ASSERT_NE(missing, nullptr) << "error index " << error.index();
    EXPECT_EQ(missing->name, "zwlr_data_control_manager_v1");
    EXPECT_EQ(missing->version, 1u);

    auto copied = clipboard.copy_text("x");
    ASSERT_FALSE(copied);
    auto* copy_missing = std::get_if<wlclip::copy::MissingProtocol>(&copied.error());
    ASSERT_NE(copy_missing, nullptr) << "error index " << copied.error().index();
    EXPECT_EQ(copy_missing->name, "zwlr_data_control_manager_v1");
}

} // namespace
} // namespace quillfen::test
