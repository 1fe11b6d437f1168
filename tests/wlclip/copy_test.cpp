// Offering a text: what readers get, the serving thread's life, and what it leaves.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <optional>
#include <thread>

#include "tests/servers/peers.hpp"
#include "tests/servers/process_state.hpp"
#include "tests/servers/scoped_environment.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/wlclip/use_compositor.hpp"
#include "wlclip/connection.hpp"
#include "wlclip/device.hpp"
#include "wlclip/globals.hpp"
#include "wlclip/wlclip.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class CopyOnSway : public ::testing::Test {
  protected:
    void SetUp() override {
        use_compositor(sway_, environment_);
        // Nothing the layer does may land on disk; an empty TMPDIR shows it.
        std::string pattern = (fs::temp_directory_path() / "wlclip-tmp.XXXXXX");
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        tmpdir_ = pattern;
        environment_.set("TMPDIR", tmpdir_);
    }
    void TearDown() override { fs::remove_all(tmpdir_); }
    // The layer's clipboard of sway; a test may end it early to see what it leaves.
    wlclip::Clipboard& clipboard() { return *clipboard_; }
    void copy_ok(const std::string& text) {
        auto copied = clipboard().copy_text(text);
        ASSERT_TRUE(copied) << "copy error index " << copied.error().index();
    }
    std::string paste_here() {
        auto contents = clipboard().get_contents();
        EXPECT_TRUE(contents) << "paste error index " << contents.error().index();
        if (!contents)
            return "<no contents>";
        auto bytes = wlclip::read_to_end(contents->pipe.get());
        EXPECT_TRUE(bytes) << "read errno " << bytes.error().code;
        return bytes.value_or("<read failed>");
    }

    // First, so that it is put back after everything else is gone.
    ScopedEnvironment environment_;
    SwayServer sway_;
    std::optional<wlclip::Clipboard> clipboard_{std::in_place, address_of(sway_)};
    std::string tmpdir_;
};

TEST_F(CopyOnSway, AReadRightAfterACopySeesTheNewText) {
    for (int i = 0; i < 30; ++i) {
        std::string text = "text number " + std::to_string(i);
        copy_ok(text);
        EXPECT_EQ(paste_here(), text);
    }
    EXPECT_EQ(wl_paste(environment_compositor), "text number 29");
}

TEST_F(CopyOnSway, EveryTypeAndEveryRequestGetsTheSameBytes) {
    const std::string text = "caf\xc3\xa9 \xff\n\n";
    copy_ok(text);
    EXPECT_EQ(shell("wl-paste -l"),
              "text/plain;charset=utf-8\ntext/plain\nSTRING\nUTF8_STRING\nTEXT\n");
    for (const char* type :
         {"text/plain;charset=utf-8", "text/plain", "STRING", "UTF8_STRING", "TEXT"}) {
        EXPECT_EQ(wl_paste(environment_compositor, {"-t", type}), text) << type;
        EXPECT_EQ(paste_here(), text) << type;
    }
}

TEST_F(CopyOnSway, TheEmptyTextOffersTheTypesWithNoBytes) {
    copy_ok("");
    EXPECT_EQ(shell("wl-paste -l | wc -l"), "5\n");
    EXPECT_EQ(paste_here(), "");
    EXPECT_EQ(shell("wl-paste -n"), "");
}

TEST_F(CopyOnSway, TwoCopiesInARowLeaveOneServingThread) {
    copy_ok("first");
    copy_ok("second");
    EXPECT_TRUE(eventually([&] { return clipboard().serving_threads() == 1; }));
    EXPECT_EQ(paste_here(), "second");
    wl_copy(environment_compositor, "from elsewhere");
    EXPECT_TRUE(eventually([&] { return clipboard().serving_threads() == 0; }));
    EXPECT_EQ(paste_here(), "from elsewhere");
}

TEST_F(CopyOnSway, AStuckReaderHoldsUpNeitherOtherReadersNorTheCancel) {
    const std::string big(3 << 20, 'q'); // far more than a pipe buffer holds
    copy_ok(big);
    auto stuck = clipboard().get_contents(); // asked for, never read
    ASSERT_TRUE(stuck);
    EXPECT_EQ(paste_here(), big);
    const auto other = wl_paste(environment_compositor);
    ASSERT_TRUE(other) << "the other reader's paste failed";
    EXPECT_EQ(other->size(), big.size());
    wl_copy(environment_compositor, "taken");
    // The transfer had begun: it is finished after the cancel, then the thread ends.
    auto rest = wlclip::read_to_end(stuck->pipe.get());
    ASSERT_TRUE(rest) << "read errno " << rest.error().code;
    EXPECT_EQ(rest->size(), big.size());
    EXPECT_TRUE(*rest == big);
    EXPECT_TRUE(eventually([&] { return clipboard().serving_threads() == 0; }));
}

TEST_F(CopyOnSway, APasteByWlPasteOutlivesTheReplacedSelection) {
    const std::string big(4 << 20, 'p');
    copy_ok(big);
    // A reader that starts reading late, while another client copies meanwhile.
    auto pasted =
        std::async(std::launch::async, [] { return shell("wl-paste -n | (sleep 1; wc -c)"); });
    std::this_thread::sleep_for(300ms);
    wl_copy(environment_compositor, "copied elsewhere meanwhile");
    EXPECT_EQ(pasted.get(), std::to_string(big.size()) + "\n");
    EXPECT_TRUE(eventually([&] { return clipboard().serving_threads() == 0; }));
}

// Digits in a row that does not divide a pipe's size: a piece lost anywhere shows.
std::string numbered_text(std::size_t size) {
    std::string text;
    for (int i = 0; text.size() < size; ++i)
        text += std::to_string(i) + ' ';
    text.resize(size);
    return text;
}

TEST_F(CopyOnSway, AReaderThatPausesWhileTheSelectionIsTakenGetsEveryByte) {
    struct Case {
        const char* name;
        bool our_next_copy; // or another client's
    };
    for (const Case c : {Case{"wl-copy takes it", false}, Case{"our next copy takes it", true}}) {
        SCOPED_TRACE(c.name);
        const std::string big = numbered_text(2'020'000);
        copy_ok(big);
        const fs::path paused = fs::path(tmpdir_) / "paused";
        // Reads 64 KiB, then pauses for longer than a serving thread used to wait.
        auto pasted = std::async(
            std::launch::async,
            [&] {
                return shell("wl-paste -n | (head -c 65536; touch '" + paused.string() +
                             "'; sleep 3; cat)");
            });
        ASSERT_TRUE(eventually([&] { return fs::exists(paused); }, 30s));
        if (c.our_next_copy)
            copy_ok("our next text");
        else
            wl_copy(environment_compositor, "copied elsewhere meanwhile");
        const std::string got = pasted.get();
        EXPECT_EQ(got.size(), big.size());
        EXPECT_TRUE(got == big);
        EXPECT_TRUE(eventually(
            [&] { return clipboard().serving_threads() == (c.our_next_copy ? 1u : 0u); }));
        fs::remove(paused);
    }
}

// A requester of our own that hands the owner a descriptor sharing `fd`'s open file
// description, as a client that hands over its standard output does.
void request_into(const SwayServer& sway, int fd) {
    auto endpoint = address_of(sway).take();
    ASSERT_TRUE(endpoint);
    auto connection = wlclip::Connection::open(std::move(*endpoint), wlclip::round_trip_limit);
    ASSERT_TRUE(connection);
    auto globals = wlclip::bind_globals(*connection, wlclip::round_trip_limit);
    ASSERT_TRUE(globals);
    wlclip::Device device(globals->manager.get(), globals->seats.front().get());
    ASSERT_TRUE(connection->roundtrip(wlclip::round_trip_limit));
    ASSERT_NE(device.selection(), nullptr);
    device.selection()->receive("text/plain;charset=utf-8", util::UniqueFd(::dup(fd)));
    ASSERT_TRUE(connection->roundtrip(wlclip::round_trip_limit));
}

TEST_F(CopyOnSway, TheRequestersDescriptorKeepsItsFlags) {
    const std::string big = numbered_text(1 << 20); // far more than a pipe holds
    copy_ok(big);

    {
        SCOPED_TRACE("a blocking pipe");
        int ends[2];
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        util::UniqueFd read_end(ends[0]);
        util::UniqueFd write_end(ends[1]);
        const int flags = ::fcntl(write_end.get(), F_GETFL);
        request_into(sway_, write_end.get());
        std::string got(big.size(), '\0');
        std::size_t taken = 0;
        while (taken < got.size()) {
            const ssize_t n = ::read(read_end.get(), got.data() + taken, got.size() - taken);
            ASSERT_GT(n, 0);
            taken += static_cast<std::size_t>(n);
        }
        EXPECT_TRUE(got == big);
        EXPECT_EQ(::fcntl(write_end.get(), F_GETFL), flags);
    }
    {
        SCOPED_TRACE("a file");
        util::UniqueFd file(::memfd_create("requested", MFD_CLOEXEC));
        ASSERT_TRUE(file);
        const int flags = ::fcntl(file.get(), F_GETFL);
        request_into(sway_, file.get());
        ASSERT_TRUE(eventually([&] {
            struct stat st {};
            return ::fstat(file.get(), &st) == 0 &&
                   static_cast<std::size_t>(st.st_size) == big.size();
        }));
        EXPECT_EQ(::fcntl(file.get(), F_GETFL), flags);
        std::string got(big.size(), '\0');
        EXPECT_EQ(::pread(file.get(), got.data(), got.size(), 0), static_cast<ssize_t>(big.size()));
        EXPECT_TRUE(got == big);
    }
}

TEST_F(CopyOnSway, AReaderThatStopsAfterTheCancelIsDroppedAfterTheIdleLimit) {
    const std::string big(3 << 20, 'r');
    copy_ok(big);
    auto stuck = clipboard().get_contents(); // asked for, never read
    ASSERT_TRUE(stuck);
    EXPECT_EQ(paste_here(), big); // served meanwhile
    wl_copy(environment_compositor, "taken");
    EXPECT_TRUE(eventually([&] { return clipboard().serving_threads() == 0; },
                           wlclip::serving_idle_limit + 30s));
    // Dropped with the thread: the reader sees the end of data after what it was given.
    auto partial = wlclip::read_to_end(stuck->pipe.get());
    ASSERT_TRUE(partial);
    EXPECT_LT(partial->size(), big.size());
}

TEST_F(CopyOnSway, AReaderThatLeavesEarlyDoesNotEndTheProcess) {
    const std::string big(1 << 20, 'z');
    copy_ok(big);
    for (int i = 0; i < 3; ++i) {
        auto contents = clipboard().get_contents();
        ASSERT_TRUE(contents);
        char first[16];
        ASSERT_GT(::read(contents->pipe.get(), first, sizeof first), 0);
        contents->pipe.reset(); // the server's next write meets a closed pipe
    }
    EXPECT_EQ(shell("wl-paste -n | head -c 5"), "zzzzz");
    EXPECT_EQ(paste_here(), big);
}

TEST_F(CopyOnSway, DescriptorsAreCloseOnExecAndNothingRemainsAfterServing) {
    copy_ok("warm-up"); // the first use loads what stays loaded (locale, resolver, ...)
    wl_copy(environment_compositor, "replace");
    ASSERT_TRUE(eventually([&] { return clipboard().serving_threads() == 0; }));
    clipboard_.emplace(address_of(sway_)); // without the warm-up's ended thread

    const auto fds_before = open_fds();
    const int threads_before = thread_count();
    copy_ok("served text");
    EXPECT_EQ(paste_here(), "served text");
    EXPECT_EQ(wl_paste(environment_compositor), "served text");
    EXPECT_EQ(thread_count(), threads_before + 1);
    for (int fd : open_fds())
        EXPECT_TRUE(fds_before.contains(fd) || (::fcntl(fd, F_GETFD) & FD_CLOEXEC))
            << "descriptor " << fd;

    wl_copy(environment_compositor, "taken over");
    EXPECT_TRUE(eventually([&] { return thread_count() == threads_before; }));
    // What the ended thread's object still holds goes with the clipboard.
    clipboard_.reset();
    EXPECT_EQ(open_fds(), fds_before);
    EXPECT_TRUE(fs::is_empty(tmpdir_));
}

// What a read of the layer gives: the text, "<no selection>", or the error's index.
std::string read_through(wlclip::Clipboard& clipboard) {
    auto contents = clipboard.get_contents();
    if (!contents && std::holds_alternative<wlclip::paste::ClipboardEmpty>(contents.error()))
        return "<no selection>";
    if (!contents)
        return "error index " + std::to_string(contents.error().index());
    auto bytes = wlclip::read_to_end(contents->pipe.get());
    return bytes ? *bytes : "read errno " + std::to_string(bytes.error().code);
}

// Each seat has a selection of its own, and the user may paste on any of them.
TEST(CopyOnSeats, TheCopyIsTheSelectionOfEverySeat) {
    SwayServer sway({.second_seat = true});
    const WaylandPeer peer{sway.runtime_dir(), sway.socket_name()};
    const std::vector<std::string> seat0{"--seat", "seat0"}, seat1{"--seat", "seat1"};
    wl_copy(peer, "before, on seat0", seat0);
    wl_copy(peer, "before, on seat1", seat1);
    ASSERT_EQ(wl_paste(peer, seat0), "before, on seat0");
    ASSERT_EQ(wl_paste(peer, seat1), "before, on seat1") << "the seats share one selection";

    wlclip::Clipboard clipboard(address_of(sway));
    for (const std::string text : {"first copy", "second copy"}) {
        SCOPED_TRACE(text);
        wl_copy(peer, "another client's, on seat1 alone", seat1);
        auto copied = clipboard.copy_text(text);
        ASSERT_TRUE(copied) << "copy error index " << copied.error().index();
        EXPECT_EQ(wl_paste(peer, seat0), text);
        EXPECT_EQ(wl_paste(peer, seat1), text);
        EXPECT_EQ(read_through(clipboard), text);
    }
}

// The primary selection (a middle click's paste) is the user's own: copies and reads of the
// regular selection leave it as it was, and our copy is never offered there.
TEST(CopyAndPrimary, ThePrimarySelectionIsLeftAsItWas) {
    SwayServer sway;
    const WaylandPeer peer{sway.runtime_dir(), sway.socket_name()};
    const std::vector<std::string> primary{"--primary"};
    wlclip::Clipboard clipboard(address_of(sway));

    ASSERT_TRUE(clipboard.copy_text("ours, on no primary"));
    EXPECT_EQ(wl_paste(peer), "ours, on no primary");
    // Nothing is selected as primary, so wl-paste has no types to list there.
    EXPECT_EQ(wl_paste(peer, {"--primary", "--list-types"}), std::nullopt) << "offered as primary";

    wl_copy(peer, "the user's primary", primary);
    ASSERT_EQ(wl_paste(peer, primary), "the user's primary");
    ASSERT_TRUE(clipboard.copy_text("ours, beside the user's primary"));
    EXPECT_EQ(read_through(clipboard), "ours, beside the user's primary");
    wl_copy(peer, "another client's regular copy");
    EXPECT_EQ(read_through(clipboard), "another client's regular copy");
    // With the regular selection cleared, only the primary one holds a text: not ours to read.
    wl_copy(peer, "", {"--clear"});
    EXPECT_EQ(read_through(clipboard), "<no selection>");
    EXPECT_EQ(wl_paste(peer, primary), "the user's primary");
}

TEST(CopyErrors, ConnectionKinds) {
    std::string pattern = (fs::temp_directory_path() / "wlclip-empty.XXXXXX");
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    ScopedEnvironment environment;
    environment.unset("WAYLAND_SOCKET");
    environment.set("XDG_RUNTIME_DIR", pattern);
    environment.set("WAYLAND_DISPLAY", "wayland-3");
    const int threads_before = thread_count();

    auto copied = wlclip::Clipboard(wlclip::Address::from_environment()).copy_text("x");
    ASSERT_FALSE(copied);
    auto* failed = std::get_if<wlclip::copy::WaylandConnection>(&copied.error());
    ASSERT_NE(failed, nullptr) << "error index " << copied.error().index();
    EXPECT_EQ(failed->kind, wlclip::ConnectError::NoCompositorListening);

    environment.unset("XDG_RUNTIME_DIR");
    copied = wlclip::Clipboard(wlclip::Address::from_environment()).copy_text("x");
    ASSERT_FALSE(copied);
    failed = std::get_if<wlclip::copy::WaylandConnection>(&copied.error());
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->kind, wlclip::ConnectError::XdgRuntimeDirNotSet);

    // A failed copy leaves no thread behind.
    EXPECT_TRUE(eventually([&] { return thread_count() == threads_before; }));
    fs::remove_all(pattern);
}

} // namespace
} // namespace quillfen::test
