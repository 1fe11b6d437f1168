// Discovery and the sync loop against real servers: Xvfb displays, headless sway and weston,
// with xclip, wl-copy and wl-paste as peers. Each test process runs in namespaces of its own
// (see main), so that only the servers it starts are on its machine.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "backend_probes.hpp"
#include "log.hpp"
#include "tests/servers/captured_output.hpp"
#include "tests/servers/discovery_report.hpp"
#include "tests/servers/isolation.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/process_state.hpp"
#include "tests/servers/scoped_environment.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/servers/xvfb_server.hpp"
#include "tests/sync_servers/sync_worker.hpp"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// The report for a probe in which every number but `answering` failed to connect.
std::string x11_report_without(std::vector<int> answering) {
    std::vector<std::uint8_t> failed;
    for (int n = 0; n <= 254; ++n)
        if (std::find(answering.begin(), answering.end(), n) == answering.end())
            failed.push_back(static_cast<std::uint8_t>(n));
    return x11_report(concise_numbers(failed));
}

std::string wlr(const std::string& socket) {
    return "WlrClipboard { display: \"" + socket + "\" }";
}
std::string x11(const std::string& display) {
    return "X11Clipboard { display: \"" + display + "\" }";
}

int socket_number(const std::string& socket) {
    return std::stoi(socket.substr(8));
}

class SyncServers : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_UNLESS_ISOLATED();
        log::level::set(Level::debug);
        log::timestamp::set(false);
        log::log_sensitive_information::set(false);
    }

    std::expected<ClipboardList, MyError> discover() {
        CapturedOutput output;
        auto result = get_clipboards();
        lines = output.lines();
        return result;
    }

    Lines lines;
    // A member of the base, so that it is put back once the derived fixtures' servers are gone.
    ScopedEnvironment environment;
};

// Two X servers and one sway, in the order discovery lists them.
class ThreeServers : public SyncServers {
  protected:
    void SetUp() override {
        SyncServers::SetUp();
        if (IsSkipped())
            return;
        first = std::make_unique<XvfbServer>();
        second = std::make_unique<XvfbServer>();
        if (second->number() < first->number())
            std::swap(first, second);
        sway = std::make_unique<SwayServer>();
        environment.set("XDG_RUNTIME_DIR", sway->runtime_dir());
    }

    std::optional<std::string> wl_paste() const {
        return test::wl_paste({sway->runtime_dir(), sway->socket_name()});
    }

    std::unique_ptr<XvfbServer> first, second;
    std::unique_ptr<SwayServer> sway;
};

TEST_F(ThreeServers, DiscoveryFindsExactlyThoseInOrderAndSpreadsTheStartText) {
    ASSERT_NO_THROW(xclip_copy(second->display(), "start text"));
    // xclip takes the selection in its background process.
    ASSERT_TRUE(eventually([&] { return xclip_paste(second->display()) == "start text"; }));

    auto found = discover();
    ASSERT_TRUE(found) << debug_text(found.error());
    const std::string socket = sway->socket_name();
    EXPECT_EQ(names(*found, &Clipboard::display),
              (std::vector<std::string>{socket, first->display(), second->display()}));
    EXPECT_EQ(lines, (Lines{"DEBUG - identifying unique clipboards...",
                            "DEBUG - Found clipboard: " + wlr(socket),
                            "DEBUG - Found clipboard: " + x11(first->display()),
                            "DEBUG - Found clipboard: " + x11(second->display()),
                            x11_report_without({first->number(), second->number()}),
                            " INFO - Using clipboards: [" + wlr(socket) + ", " +
                                x11(first->display()) + ", " + x11(second->display()) + "]"}));
    // The list is alive, so its objects serve the start text to other clients.
    EXPECT_EQ(wl_paste(), "start text");
    EXPECT_EQ(xclip_paste(first->display()), "start text");
    EXPECT_EQ(xclip_paste(second->display()), "start text");
}

// A free number above `above`: a second name discovery meets after the first one.
int free_display_number_above(int above) {
    for (int attempt = 0; attempt < 1000; ++attempt)
        if (int n = unused_display_number(); n > above)
            return n;
    throw std::runtime_error("no free display number above " + std::to_string(above));
}

TEST_F(ThreeServers, SecondNamesOfOneServerAreRemovedAsDuplicates) {
    if (first->number() == 254)
        GTEST_SKIP() << "no display number above " << first->display();
    const int alias = free_display_number_above(first->number());
    const std::string x11_alias = "/tmp/.X11-unix/X" + std::to_string(alias);
    fs::create_symlink("X" + std::to_string(first->number()), x11_alias);
    const std::string socket = sway->socket_name();
    const std::string wayland_alias = "wayland-" + std::to_string(socket_number(socket) + 1);
    fs::create_symlink(socket, sway->runtime_dir() + "/" + wayland_alias);

    auto found = discover();
    fs::remove(x11_alias);
    ASSERT_TRUE(found) << debug_text(found.error());
    EXPECT_EQ(names(*found, &Clipboard::display),
              (std::vector<std::string>{socket, first->display(), second->display()}));
    const std::string alias_display = ":" + std::to_string(alias);
    Lines removals;
    for (const auto& line : lines)
        if (line.find(" is the same as ") != std::string::npos)
            removals.push_back(line);
    EXPECT_EQ(removals, (Lines{"DEBUG - " + wlr(socket) + " is the same as " + wlr(wayland_alias) +
                                   ", removing " + wlr(wayland_alias),
                               "DEBUG - " + x11(first->display()) + " is the same as " +
                                   x11(alias_display) + ", removing " + x11(alias_display)}));
}

TEST_F(SyncServers, WestonWithoutDataControlIsWarnedAbout) {
    WestonServer weston;
    environment.set("XDG_RUNTIME_DIR", weston.runtime_dir());
    log::level::set(Level::warn);
    auto found = discover();
    ASSERT_TRUE(found) << debug_text(found.error());
    EXPECT_TRUE(found->empty());
    EXPECT_EQ(lines, (Lines{" WARN - " + weston.socket_name() +
                                " does not support zwlr_data_control_manager_v1. If you are "
                                "running gnome in wayland, that's OK because it provides an x11 "
                                "clipboard, which will be used instead.",
                            x11_report("[0..254]")}));
}

TEST_F(SyncServers, NoServerAtAllReportsEveryX11Number) {
    std::string empty = (fs::temp_directory_path() / "quillfen-sync-empty.XXXXXX").string();
    ASSERT_NE(::mkdtemp(empty.data()), nullptr);
    environment.set("XDG_RUNTIME_DIR", empty);
    log::log_sensitive_information::set(true);
    auto found = discover();
    fs::remove(empty);
    ASSERT_TRUE(found) << debug_text(found.error());
    EXPECT_TRUE(found->empty());
    EXPECT_EQ(lines, (Lines{"DEBUG - identifying unique clipboards...", x11_report("[0..254]"),
                            " INFO - Sensitive: Clipboard contents at the start: ''",
                            " INFO - Using clipboards: []"}));
}

TEST_F(SyncServers, UnsetRuntimeDirGivesAnErrorLinePerWaylandSocket) {
    environment.unset("XDG_RUNTIME_DIR");
    log::level::set(Level::warn);
    auto found = discover();
    ASSERT_TRUE(found) << debug_text(found.error());
    EXPECT_TRUE(found->empty());
    Lines expected;
    for (int n = 0; n <= 254; ++n)
        expected.push_back("ERROR - unexpected error while attempting to setup clipboard " +
                           std::to_string(n) +
                           ": failed to get wlr clipboard: Couldn't connect to the Wayland "
                           "compositor");
    expected.push_back(x11_report("[0..254]"));
    EXPECT_EQ(lines, expected);
}

TEST_F(ThreeServers, XclipCopyReachesWaylandAndTheOtherDisplay) {
    SyncWorker worker;
    ASSERT_NO_THROW(xclip_copy(first->display(), "copied on X"));
    EXPECT_TRUE(eventually([&] { return wl_paste() == "copied on X"; })) << shown(wl_paste());
    EXPECT_TRUE(eventually([&] { return xclip_paste(second->display()) == "copied on X"; }))
        << shown(xclip_paste(second->display()));
}

// Copied once, right after discovery: a copy made before the loop's first read is the user's
// too.
TEST_F(ThreeServers, WlCopyReachesBothDisplays) {
    SyncWorker worker;
    ASSERT_NO_THROW(wl_copy({sway->runtime_dir(), sway->socket_name()}, "copied on Wayland"));
    EXPECT_TRUE(eventually([&] {
        return xclip_paste(first->display()) == "copied on Wayland" &&
               xclip_paste(second->display()) == "copied on Wayland";
    })) << "first: "
        << shown(xclip_paste(first->display()))
        << ", second: " << shown(xclip_paste(second->display()));
}

} // namespace
} // namespace quillfen::test
