// The service as a desktop user runs it on sway with Xwayland: an X window is open, so sway's own
// bridge carries copies between its clipboard and its X display while the service keeps them and a
// plain Xvfb display equal. xclip, wl-copy/wl-paste and a file manager's owner as the user's
// programs.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/service_log.hpp"
#include "tests/servers/isolation.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/servers/test_accounts.hpp"
#include "tests/servers/watched_process.hpp"
#include "tests/servers/xvfb_server.hpp"
#include "tests/x11clip/x11_clients.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;

std::size_t updates(const std::string& out) {
    return count_of(out, " INFO - clipboard updated from display ");
}

class XwaylandOnSway : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_UNLESS_ISOLATED();
        user_ = test_account(compositor_user);
        sway_ = std::make_unique<SwayServer>(SwayServer::Xwayland::enabled);
        wayland_ = WaylandPeer{sway_->runtime_dir(), sway_->socket_name()};
        // Xwayland lets in only sway's user; the test's programs run as root.
        WatchedProcess admit(
            [&] {
                try {
                    admit_local_user(xwayland(), "root");
                    return 0;
                } catch (const std::exception&) {
                    return 1;
                }
            },
            WatchOptions{.user = std::pair{user_.uid, user_.gid}});
        const auto admitted = admit.wait_exit(20s);
        ASSERT_TRUE(admitted && WIFEXITED(*admitted) && WEXITSTATUS(*admitted) == 0)
            << admit.err() << sway_->log_tail();
        window_ = std::make_unique<MappedWindow>(xwayland());
        xvfb_ = std::make_unique<XvfbServer>();
        // Sway's bridge works from here on, before any service runs.
        xclip_copy(xwayland(), "carried by sway");
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (wl_paste(wayland_) != "carried by sway" &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(50ms);
        ASSERT_EQ(wl_paste(wayland_), "carried by sway") << sway_->log_tail();
    }

    const std::string& xwayland() const { return sway_->x_display(); }

    // As the compositor's user, since the service uses only X servers of its user and root's.
    std::unique_ptr<WatchedProcess> start_service() const {
        WatchOptions options;
        options.user = std::pair{user_.uid, user_.gid};
        options.environment.push_back("XDG_RUNTIME_DIR=" + sway_->runtime_dir());
        return std::make_unique<WatchedProcess>(
            std::vector<std::string>{QUILLFEN_BINARY, "--hide-timestamp", "--log-level", "debug"},
            options);
    }

    static std::string wait_for_list(WatchedProcess& service) {
        static const std::regex line(R"( INFO - Using clipboards: (.*)\n)");
        std::string list;
        const bool listed = service.wait_until(
            [&] {
                std::smatch match;
                if (!std::regex_search(service.out(), match, line))
                    return false;
                list = match[1];
                return true;
            },
            60s);
        EXPECT_TRUE(listed) << service.out() << service.err();
        return list;
    }

    // What wl-paste on sway, then xclip on Xwayland and on Xvfb read.
    std::vector<std::optional<std::string>> holdings() const {
        return {wl_paste(wayland_), xclip_paste(xwayland()), xclip_paste(xvfb_->display())};
    }

    static pid_t latest_worker(const WatchedProcess& service) {
        return quillfen::test::latest_worker(service.out());
    }

    std::string log_of(const WatchedProcess& service) const {
        return "\nthe service logged:\n" + service.out() + service.err() + "\nsway logged:\n" +
               sway_->log_tail();
    }

    Account user_{};
    std::unique_ptr<SwayServer> sway_;
    WaylandPeer wayland_;
    std::unique_ptr<MappedWindow> window_;
    std::unique_ptr<XvfbServer> xvfb_;
};

// Whether the service keeps Xwayland's display beside sway's clipboard is a race of sway's: the
// pair test reads one side right after writing the other, and sway's bridge carries the write
// across within about the same time. Both outcomes were seen, kept most of the time. Pinned is what
// holds in both: Xwayland's display is either used or dropped as the same as sway's (then sway's
// bridge alone keeps it equal to sway), and every copy crosses once, without ping-pong.
TEST_F(XwaylandOnSway, DisplayIsKeptOrDroppedAsSwaysAndEachPlainCopyIsOneUpdate) {
    auto service = start_service();
    const std::string list = wait_for_list(*service);
    auto quoted = [](const std::string& name) { return "\"" + name + "\""; };
    for (const std::string& name : {wayland_.socket_name, xvfb_->display()})
        EXPECT_NE(list.find(quoted(name)), std::string::npos) << name << " not in " << list;
    const std::string sway = "WlrClipboard { display: " + quoted(wayland_.socket_name) + " }";
    const std::string x = "X11Clipboard { display: " + quoted(xwayland()) + " }";
    EXPECT_TRUE(list.find(x) != std::string::npos ||
                service->out().find("DEBUG - " + sway + " is the same as " + x + ", removing " + x +
                                    "\n") != std::string::npos)
        << log_of(*service);

    struct Copy {
        const char* where;
        std::function<void(const std::string&)> copy;
    };
    const Copy copies[] = {
        {"xclip on Xwayland", [&](const std::string& text) { xclip_copy(xwayland(), text); }},
        {"wl-copy on sway", [&](const std::string& text) { wl_copy(wayland_, text); }},
        {"xclip on Xvfb", [&](const std::string& text) { xclip_copy(xvfb_->display(), text); }},
    };
    for (const Copy& c : copies) {
        SCOPED_TRACE(c.where);
        const std::string text = std::string("copied with ") + c.where;
        const std::size_t before = updates(service->out());
        c.copy(text);
        ASSERT_TRUE(service->wait_until(
            [&] { return holdings() == std::vector<std::optional<std::string>>(3, text); }, 10s))
            << log_of(*service);
        // Settled: a copy carried back by sway's bridge would be read within a few passes.
        service->wait_until([] { return false; }, 1s);
        const std::size_t settled = updates(service->out());
        EXPECT_EQ(settled, before + 1) << log_of(*service);
        // Idle: no bridge keeps handing the other a copy.
        service->wait_until([] { return false; }, 5s);
        EXPECT_EQ(updates(service->out()), settled) << log_of(*service);
        EXPECT_EQ(holdings(), std::vector<std::optional<std::string>>(3, text));
    }
    EXPECT_EQ(service->err().find("FATAL"), std::string::npos) << service->err();
}

// Sway's bridge carries a rich copy whole to the other side, and the service, which sees it there
// too, leaves both sides as they are, across passes and across the worker's replacement; the
// plain Xvfb display gets the text.
TEST_F(XwaylandOnSway, CopyThatIsMoreThanTextStaysWholeOnBothSidesOfTheBridge) {
    const std::string uri = "file:///home/user/report.odt";
    const std::string html = "<b>bold</b> words";
    struct Case {
        const char* what;
        bool on_x; // else on sway
    };
    for (const Case c : {Case{"files from a file manager on Xwayland", true},
                         Case{"formatted text on sway", false}}) {
        SCOPED_TRACE(c.what);
        auto service = start_service();
        ASSERT_TRUE(!wait_for_list(*service).empty());
        xclip_copy(xvfb_->display(), "text before the copy");
        ASSERT_TRUE(service->wait_until(
            [&] {
                return holdings() ==
                       std::vector<std::optional<std::string>>(3, "text before the copy");
            },
            10s))
            << log_of(*service);
        service->wait_until([] { return false; }, 1s);
        const std::size_t before = updates(service->out());

        std::optional<ScriptedOwner> file_manager;
        std::string text;
        if (c.on_x) {
            text = "/home/user/report.odt";
            file_manager.emplace(
                xwayland(),
                ScriptedOwner::Script{.offers = {{"x-special/gnome-copied-files", "copy\n" + uri},
                                                 {"text/uri-list", uri},
                                                 {"UTF8_STRING", text}}});
        } else {
            text = html;
            wl_copy(wayland_, html, {"-t", "text/html"});
        }
        // The rich type on each side of the bridge, read as a program there asks for it.
        auto whole = [&] {
            const std::string rich_type = c.on_x ? "text/uri-list" : "text/html";
            const std::string rich = c.on_x ? uri : html;
            return xclip_offers(xwayland(), rich_type) &&
                   xclip_read(xwayland(), rich_type).out == rich &&
                   wl_offers(wayland_, rich_type) &&
                   wl_paste(wayland_, {"--type", rich_type}) == rich;
        };
        ASSERT_TRUE(service->wait_until([&] { return xclip_paste(xvfb_->display()) == text; }, 10s))
            << log_of(*service);
        // Several passes.
        service->wait_until([] { return false; }, 1500ms);
        EXPECT_TRUE(whole()) << "Xwayland offers:\n"
                             << shown(xclip_targets(xwayland())) << "\nsway offers:\n"
                             << shown(wl_paste(wayland_, {"--list-types"})) << log_of(*service);
        EXPECT_EQ(holdings(), std::vector<std::optional<std::string>>(3, text));
        EXPECT_EQ(updates(service->out()), before + 1) << log_of(*service);

        kill(latest_worker(*service), SIGTERM);
        ASSERT_TRUE(service->wait_until(
            [&] { return count_of(service->out(), " INFO - Using clipboards: ") >= 2; }, 60s))
            << log_of(*service);
        service->wait_until([] { return false; }, 1500ms);
        EXPECT_TRUE(whole()) << "Xwayland offers:\n"
                             << shown(xclip_targets(xwayland())) << "\nsway offers:\n"
                             << shown(wl_paste(wayland_, {"--list-types"})) << log_of(*service);
        EXPECT_EQ(xclip_paste(xvfb_->display()), text);
    }
}

} // namespace
} // namespace quillfen::test
