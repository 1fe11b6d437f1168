// The layer against servers that must not get our text, and servers that never answer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "tests/servers/silent_listener.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/servers/test_accounts.hpp"
#include "tests/servers/watched_process.hpp"
#include "tests/servers/xvfb_server.hpp"
#include "tests/x11clip/stalling_x_server.hpp"
#include "x11clip/x11clip.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Runs `body` in a forked child, as `account` when given, and returns what it wrote; nothing
// when it did not end within `limit` (it is killed then), so a call that hangs fails the test
// instead of hanging it.
std::optional<std::string> in_child(const std::function<std::string()>& body,
                                    std::chrono::seconds limit,
                                    std::optional<Account> account = std::nullopt) {
    WatchOptions options{.default_sigpipe = false}; // a server gone under a connection
    if (account)
        options.user = std::pair{account->uid, account->gid};
    WatchedProcess child(
        [&] {
            const std::string result = body();
            [[maybe_unused]] auto n = ::write(STDOUT_FILENO, result.data(), result.size());
            return 0;
        },
        options);
    if (!child.wait_until([&] { return child.output_ended(); }, limit))
        return std::nullopt;
    return child.out();
}

std::string create_on(const std::string& display) {
    auto clipboard = x11clip::Clipboard::create(display);
    return clipboard ? "created" : clipboard.error().message();
}

constexpr const char* refused = "X11 clipboard error : display served by another user";
constexpr const char* no_server = "X11 clipboard error : XCB connection error: Connection";

TEST(X11ClipTrust, OnlyServersOfOurUserOrRootAreUsed) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as several users";
    const Account user = test_account(compositor_user);
    const Account other = test_account(other_user);
    const Account root{0, 0};
    XvfbServer root_server;
    XvfbServer other_server(other);
    struct Case {
        const char* what;
        std::optional<Account> listener; // a silent listener of this user; none: `display`
        std::string display;
        Account client;
        std::string expected;
    };
    const Case cases[] = {
        {"root's server, used by the user", std::nullopt, root_server.display(), user, "created"},
        {"another user's server", std::nullopt, other_server.display(), user, refused},
        {"another user's server, used by root", std::nullopt, other_server.display(), root,
         "created"},
        {"another user's silent listener", other, "", user, refused},
        // Our own listener passes the check and then never answers the handshake.
        {"our own silent listener", user, "", user, no_server},
        {"another user's silent listener, used by root", other, "", root, no_server},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<SilentListener> listener;
        std::string display = c.display;
        if (c.listener) {
            const int number = unused_display_number();
            listener.emplace(number, *c.listener);
            display = ":" + std::to_string(number);
        }
        const auto start = Clock::now();
        const auto result = in_child([&] { return create_on(display); }, 15s, c.client);
        ASSERT_TRUE(result.has_value()) << "creating the clipboard did not end";
        EXPECT_EQ(*result, c.expected);
        EXPECT_LT(Clock::now() - start, 10s);
    }
}

// Discovery sorts these two apart by their kind: one is warned about, the other is a display
// without a server.
TEST(X11ClipTrust, ListenersOfAnotherUserAndOfOursHaveTheirKinds) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as several users";
    const Account user = test_account(compositor_user);
    using Kind = x11clip::ClipboardError::Kind;
    struct Case {
        const char* what;
        Account listener;
        Kind kind;
    };
    const Case cases[] = {
        {"another user's", test_account(other_user), Kind::another_user},
        {"our own", user, Kind::connection},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int number = unused_display_number();
        SilentListener listener(number, c.listener);
        const auto result = in_child(
            [&] {
                auto clipboard = x11clip::Clipboard::create(":" + std::to_string(number));
                if (clipboard)
                    return std::string("created");
                return std::to_string(static_cast<int>(clipboard.error().kind));
            },
            15s, user);
        ASSERT_TRUE(result.has_value()) << "creating the clipboard did not end";
        EXPECT_EQ(*result, std::to_string(static_cast<int>(c.kind)));
    }
}

TEST(X11ClipTrust, StoppedServerFailsReadsAndWritesInsteadOfHanging) {
    XvfbServer server;
    const auto result = in_child(
        [&] {
            std::string outcome;
            { // the destruction, with the server stopped, must end too
                auto clipboard = x11clip::Clipboard::create(server.display());
                if (!clipboard || !clipboard->set_string("before the stop"))
                    return std::string("no clipboard");
                ::kill(server.pid(), SIGSTOP);
                auto read = clipboard->get_string();
                auto written = clipboard->set_string("while stopped");
                outcome = (read ? "read \"" + *read + "\"" : "read failed") + ", " +
                          (written ? "written" : written.error().message());
            }
            return outcome;
        },
        20s);
    ::kill(server.pid(), SIGCONT);
    ASSERT_TRUE(result.has_value()) << "a read, a write or the destruction did not end";
    EXPECT_EQ(*result,
              "read failed, X11 clipboard error : Failed to set new owner of XCB selection");
}

TEST(X11ClipTrust, StoppedServerIsNotConnectedTo) {
    XvfbServer server;
    ::kill(server.pid(), SIGSTOP);
    const auto start = Clock::now();
    const auto result = in_child([&] { return create_on(server.display()); }, 15s);
    ::kill(server.pid(), SIGCONT);
    ASSERT_TRUE(result.has_value()) << "creating the clipboard did not end";
    EXPECT_EQ(*result, no_server);
    EXPECT_LT(Clock::now() - start, 10s);
}

TEST(X11ClipTrust, ServerSilentAfterTheHandshakeIsGivenUpOn) {
    struct Case {
        const char* what;
        std::uint8_t stall_at;
    };
    const Case cases[] = {
        {"the window's check", StallingXServer::get_input_focus},
        {"the atoms", StallingXServer::intern_atom},
        {"the maximum request length", StallingXServer::query_extension},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int number = unused_display_number();
        StallingXServer server(number, c.stall_at);
        const auto result = in_child([&] { return create_on(":" + std::to_string(number)); }, 15s);
        ASSERT_TRUE(result.has_value()) << "creating the clipboard did not end";
        EXPECT_EQ(*result, no_server);
        EXPECT_TRUE(server.stalled(2s)) << "the client never asked what the server stalls at";
    }
}

} // namespace
} // namespace quillfen::test
