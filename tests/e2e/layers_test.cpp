// The service's clipboard layers from end to end: what the user's other clipboards hold when
// one display goes away.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/three_displays.hpp"
#include "tests/servers/isolation.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/servers/watched_process.hpp"
#include "tests/servers/xvfb_server.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;

class LayersOnThreeDisplays : public ThreeDisplays {
  protected:
    void SetUp() override {
        ThreeDisplays::SetUp();
        if (IsSkipped())
            return;
        service_ = start_service();
    }

    bool listed(std::size_t times) const {
        return count_of(service_->out(), " INFO - Using clipboards: ") >= times;
    }

    // What the clipboards that stay hold, the first X display's and the compositor's.
    std::vector<std::optional<std::string>> holdings() const {
        return {xclip_paste(x1_->display()), wl_paste(wayland_)};
    }

    static std::string shown(const std::vector<std::optional<std::string>>& reads) {
        std::string all;
        for (const auto& read : reads)
            all += " " + quillfen::test::shown(read);
        return all;
    }

    std::unique_ptr<WatchedProcess> service_;
};

TEST_F(LayersOnThreeDisplays, ALostXServerLeavesEveryOtherClipboardAsItWas) {
    ASSERT_TRUE(service_->wait_until([&] { return listed(1); }, 60s)) << service_->out();
    const std::string text = "synced before the loss";
    xclip_copy(x1_->display(), text);
    const std::vector<std::optional<std::string>> synced{text, text};
    ASSERT_TRUE(service_->wait_until(
        [&] { return holdings() == synced && xclip_paste(x2_->display()) == text; }, 20s))
        << shown(holdings()) << service_->out() << service_->err();
    // Rediscovery tells clipboards apart by writing their display names into them for a moment.
    const std::set<std::string> passing{text, x1_->display(), x2_->display(), wayland_.socket_name};

    x2_->kill();
    // The worker ends with the read's error, rediscovers and goes on with the two left;
    // meanwhile and after, the other clipboards keep the text.
    bool rediscovered = false;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    std::chrono::steady_clock::time_point settled{};
    for (;;) {
        const auto now = holdings();
        for (const auto& held : now)
            ASSERT_TRUE(held && passing.contains(*held))
                << shown(now) << service_->out() << service_->err();
        if (!rediscovered && listed(2)) {
            rediscovered = true;
            settled = std::chrono::steady_clock::now() + 2s;
        }
        if (rediscovered && std::chrono::steady_clock::now() > settled)
            break;
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no rediscovery\n"
                                                              << service_->out() << service_->err();
        service_->wait_until([] { return false; }, 50ms);
    }
    EXPECT_EQ(holdings(), synced) << shown(holdings());
    EXPECT_NE(service_->err().find(
                  "FATAL - action exited with error: TerminalClipboard(StandardizedError { inner: "
                  "ClipboardError { message: \"X11 clipboard error : XCB connection error: "
                  "Connection\" }, stdio: None })\n"),
              std::string::npos)
        << service_->err();
}

} // namespace
} // namespace quillfen::test
