// An X server that wants a cookie, as a display manager starts one: the service presents the
// cookie that XAUTHORITY names, else the one in ~/.Xauthority, and without one it reports the
// display among those it could not reach and keeps the others in sync.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/servers/isolation.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/scoped_environment.hpp"
#include "tests/servers/temp_dir.hpp"
#include "tests/servers/watched_process.hpp"
#include "tests/servers/xvfb_server.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The numbers the warning about unreachable X displays names ("[0..19, 21, 23..254]"); empty
// without that warning.
std::set<int> unreachable_displays(const std::string& err) {
    const std::string marker = "XCB connection error: Connection' for x11 displays: [";
    std::set<int> numbers;
    const auto at = err.find(marker);
    if (at == std::string::npos)
        return numbers;
    const std::string list = err.substr(at + marker.size(), err.find(']', at) - at - marker.size());
    for (std::size_t from = 0; from < list.size();) {
        const std::size_t end = std::min(list.find(", ", from), list.size());
        const std::string item = list.substr(from, end - from);
        const auto run = item.find("..");
        const int first = std::stoi(item.substr(0, run));
        const int last = run == std::string::npos ? first : std::stoi(item.substr(run + 2));
        for (int n = first; n <= last; ++n)
            numbers.insert(n);
        from = end + 2;
    }
    return numbers;
}

std::string first_list(const std::string& out) {
    const std::string marker = " INFO - Using clipboards: ";
    const auto at = out.find(marker);
    return at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at);
}

// One display whose server wants a cookie and one that lets every local client in.
class XCookie : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_UNLESS_ISOLATED();
        std::string made = shell("mcookie");
        cookie_ = made.substr(0, made.find('\n'));
        guarded_ = std::make_unique<XvfbServer>(XvfbServer::Cookie{cookie_});
        open_ = std::make_unique<XvfbServer>();
        fs::create_directory(home_);
        fs::create_directory(empty_home_);
        fs::create_directory(runtime_);
        ::chmod(runtime_.c_str(), 0700);
        add_cookie(named_);
        add_cookie(home_ / ".Xauthority");
        // xclip, the user's program here, takes the cookie from there; the service gets an
        // environment of its own.
        peers_.set("XAUTHORITY", named_.string());
    }

    void add_cookie(const fs::path& file) const {
        shell("xauth -q -f " + file.string() + " add " + guarded_->display() + " . " + cookie_);
    }

    TempDir dir_{"quillfen-cookie"};
    const fs::path named_ = dir_.path / "named-authority";
    const fs::path home_ = dir_.path / "home";
    const fs::path empty_home_ = dir_.path / "empty-home";
    const fs::path runtime_ = dir_.path / "runtime";
    std::string cookie_;
    std::unique_ptr<XvfbServer> guarded_;
    std::unique_ptr<XvfbServer> open_;
    ScopedEnvironment peers_;
};

TEST_F(XCookie, ServiceReachesTheDisplayWithTheCookieOfXauthorityElseOfHome) {
    struct Case {
        const char* what;
        std::vector<std::string> environment;
        bool reached;
    };
    const Case cases[] = {
        {"XAUTHORITY names the cookie's file",
         {"XAUTHORITY=" + named_.string(), "HOME=" + empty_home_.string()},
         true},
        {"no XAUTHORITY, the cookie in ~/.Xauthority", {"HOME=" + home_.string()}, true},
        {"no cookie anywhere", {"HOME=" + empty_home_.string()}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string before = std::string("held before the service: ") + c.what;
        xclip_copy(guarded_->display(), before);
        WatchOptions options{.only_environment = true};
        options.environment = {"PATH=/usr/bin:/bin", "XDG_RUNTIME_DIR=" + runtime_.string()};
        options.environment.insert(options.environment.end(), c.environment.begin(),
                                   c.environment.end());
        WatchedProcess service({QUILLFEN_BINARY, "--hide-timestamp", "--log-level", "debug"},
                               options);
        ASSERT_TRUE(service.wait_for_out(" INFO - Using clipboards: ", 30s))
            << service.out() << service.err();
        const std::string list = first_list(service.out());
        EXPECT_NE(list.find("\"" + open_->display() + "\""), std::string::npos) << list;
        EXPECT_EQ(list.find("\"" + guarded_->display() + "\"") != std::string::npos, c.reached)
            << list;
        const std::set<int> unreachable = unreachable_displays(service.err());
        EXPECT_EQ(unreachable.contains(guarded_->number()), !c.reached) << service.err();
        EXPECT_FALSE(unreachable.contains(open_->number())) << service.err();

        const std::string copied = std::string("copied on the open display: ") + c.what;
        xclip_copy(open_->display(), copied);
        if (c.reached) {
            EXPECT_TRUE(
                service.wait_until([&] { return xclip_paste(guarded_->display()) == copied; }, 10s))
                << service.out() << service.err();
            const std::string back = std::string("copied on the guarded display: ") + c.what;
            xclip_copy(guarded_->display(), back);
            EXPECT_TRUE(
                service.wait_until([&] { return xclip_paste(open_->display()) == back; }, 10s))
                << service.out() << service.err();
        } else {
            // Several passes of the service, which goes on with the display it can reach.
            service.wait_until([] { return false; }, 1500ms);
            EXPECT_EQ(xclip_paste(guarded_->display()), before);
            EXPECT_FALSE(service.wait_exit(0ms)) << service.err();
        }
    }
}

} // namespace
} // namespace quillfen::test
