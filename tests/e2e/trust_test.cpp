// The service as the desktop user on a machine shared with another account: it bridges only the
// displays of its user and of root, and displays that never answer do not hold it up.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <regex>
#include <string>

#include "tests/servers/isolation.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/silent_listener.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/servers/test_accounts.hpp"
#include "tests/servers/watched_process.hpp"
#include "tests/servers/xvfb_server.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;

std::string quoted(const std::string& name) {
    return "\"" + name + "\"";
}

// Continues a stopped server when the test ends, however it ends.
struct Stopped {
    explicit Stopped(pid_t pid) : pid(pid) { ::kill(pid, SIGSTOP); }
    ~Stopped() { ::kill(pid, SIGCONT); }
    pid_t pid;
};

TEST(ServiceAsDesktopUser, UsesOnlyItsOwnAndRootsDisplaysAndIsNotHeldUpBySilentOnes) {
    SKIP_UNLESS_ISOLATED();
    const auto user = test_account(compositor_user);
    const auto other = test_account(other_user);
    SwayServer sway;
    const WaylandPeer wayland{sway.runtime_dir(), sway.socket_name()};
    XvfbServer root_display;
    XvfbServer foreign_display(other); // an unprivileged Xvfb makes its socket in the namespace
    XvfbServer stopped_display(user);
    const int silent_number = unused_display_number();
    SilentListener silent(silent_number, user);
    const Stopped stopped(stopped_display.pid());
    // Another account's compositor, open to everyone, under a name in the user's runtime
    // directory (as a directory shared with that account would have it).
    SwayServer foreign_sway({.user = other});
    const WaylandPeer foreign_wayland{foreign_sway.runtime_dir(), foreign_sway.socket_name()};
    wl_copy(foreign_wayland, "the other account's own copy");
    const std::string foreign_socket =
        foreign_sway.runtime_dir() + "/" + foreign_sway.socket_name();
    const std::string foreign_name = "wayland-200";
    ASSERT_EQ(::chmod(foreign_socket.c_str(), 0777), 0) << std::strerror(errno);
    ASSERT_EQ(::link(foreign_socket.c_str(), (sway.runtime_dir() + "/" + foreign_name).c_str()), 0)
        << std::strerror(errno);

    WatchOptions options;
    options.user = std::pair{user.uid, user.gid};
    options.environment.push_back("XDG_RUNTIME_DIR=" + sway.runtime_dir());
    WatchedProcess service({QUILLFEN_BINARY, "--hide-timestamp", "--log-level", "debug"}, options);
    // Two displays that never answer hold up discovery only for their bounded waits.
    ASSERT_TRUE(service.wait_for_out(" INFO - Using clipboards: ", 30s))
        << service.out() << service.err();
    service.wait_for_out("\n", 1s);

    static const std::regex listed(R"( INFO - Using clipboards: (.*)\n)");
    std::smatch match;
    const std::string out = service.out();
    ASSERT_TRUE(std::regex_search(out, match, listed)) << out;
    const std::string list = match[1];
    EXPECT_NE(list.find(quoted(wayland.socket_name)), std::string::npos) << list;
    EXPECT_NE(list.find(quoted(root_display.display())), std::string::npos) << list;
    EXPECT_EQ(list.find(quoted(foreign_display.display())), std::string::npos) << list;
    EXPECT_EQ(list.find(quoted(foreign_name)), std::string::npos) << list;
    // The user's own displays that do not answer are busy, not gone: listed, and tried again
    // every few seconds without holding up the others.
    for (const auto& busy : {stopped_display.display(), ":" + std::to_string(silent_number)})
        EXPECT_NE(list.find(quoted(busy)), std::string::npos) << busy << " not in " << list;
    // Warnings go to standard error.
    EXPECT_NE(service.err().find(
                  " WARN - Not using x11 displays [" + std::to_string(foreign_display.number()) +
                  "]: they are served by another user, who must not receive this user's "
                  "clipboard\n"),
              std::string::npos)
        << service.err();
    EXPECT_NE(service.err().find(" WARN - Not using wayland sockets [200]: they are served by "
                                 "another user, who must not receive this user's clipboard\n"),
              std::string::npos)
        << service.err();

    // Nothing else holds a text: the other account's copy, read, would have been spread.
    EXPECT_EQ(wl_paste(wayland), "");
    EXPECT_EQ(xclip_paste(root_display.display()), "");

    xclip_copy(root_display.display(), "victim secret 42");
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (wl_paste(wayland) != "victim secret 42" && std::chrono::steady_clock::now() < deadline)
        service.wait_until([] { return false; }, 100ms);
    EXPECT_EQ(wl_paste(wayland), "victim secret 42") << service.err();

    // And back: a copy on the user's compositor reaches root's display, and still not the other
    // account's.
    wl_copy(wayland, "from the user's own compositor");
    const auto back = std::chrono::steady_clock::now() + 10s;
    while (xclip_paste(root_display.display()) != "from the user's own compositor" &&
           std::chrono::steady_clock::now() < back)
        service.wait_until([] { return false; }, 100ms);
    EXPECT_EQ(xclip_paste(root_display.display()), "from the user's own compositor")
        << service.out() << service.err();

    // Nothing was handed to the other account: nobody owns its X clipboard, and its compositor
    // holds its own copy.
    EXPECT_TRUE(xclip_finds_no_owner(foreign_display.display()));
    EXPECT_EQ(wl_paste(foreign_wayland), "the other account's own copy");
    const std::string log = service.out() + service.err();
    EXPECT_EQ(log.find("victim secret"), std::string::npos) << log;
    EXPECT_EQ(service.err().find("FATAL"), std::string::npos) << service.err();
}

} // namespace
} // namespace quillfen::test
