// The service reads the text it spread itself from memory. These tests make sure that this never
// hides a copy made afterwards by another program, and that a text far larger than one read
// could fetch back through a server crosses the displays whole.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/servers/isolation.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/servers/watched_process.hpp"
#include "tests/servers/xvfb_server.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;

class OwnTextOnThreeDisplays : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_UNLESS_ISOLATED();
        sway_ = std::make_unique<SwayServer>();
        wayland_ = WaylandPeer{sway_->runtime_dir(), sway_->socket_name()};
        WatchOptions options;
        options.environment.push_back("XDG_RUNTIME_DIR=" + sway_->runtime_dir());
        service_ = std::make_unique<WatchedProcess>(
            std::vector<std::string>{QUILLFEN_BINARY, "--hide-timestamp"}, options);
        ASSERT_TRUE(service_->wait_for_out("Using clipboards: ", 60s)) << service_->err();
    }

    struct Display {
        std::string name;
        std::function<void(const std::string&)> copy;
        std::function<std::optional<std::string>(std::chrono::milliseconds)> paste;
    };

    std::vector<Display> displays() const {
        std::vector<Display> all;
        all.push_back(
            {wayland_.socket_name, [this](const std::string& text) { wl_copy(wayland_, text); },
             [this](std::chrono::milliseconds limit) { return wl_paste(wayland_, {}, limit); }});
        for (const auto* x : {&x1_, &x2_}) {
            all.push_back({x->display(),
                           [x](const std::string& text) { xclip_copy(x->display(), text); },
                           [x](std::chrono::milliseconds limit) {
                               return xclip_paste(x->display(), limit);
                           }});
        }
        return all;
    }

    // Whether every display reads `text` before the limit; reads of large texts take long.
    bool everywhere(const std::string& text, std::chrono::seconds limit,
                    std::chrono::seconds read_limit = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (const auto& display : displays()) {
            std::optional<std::string> held;
            while ((held = display.paste(read_limit)) != text) {
                if (std::chrono::steady_clock::now() > deadline) {
                    ADD_FAILURE() << display.name << " holds "
                                  << (held ? std::to_string(held->size()) + " bytes"
                                           : std::string("nothing it could read"))
                                  << ", not the " << text.size() << " copied\n"
                                  << service_->out() << service_->err();
                    return false;
                }
                service_->wait_until([] { return false; }, 200ms);
            }
        }
        return true;
    }

    XvfbServer x1_;
    XvfbServer x2_;
    std::unique_ptr<SwayServer> sway_;
    WaylandPeer wayland_;
    std::unique_ptr<WatchedProcess> service_;
};

// After each propagation the service owns every clipboard; the next copy, on any display,
// must still be seen and spread.
TEST_F(OwnTextOnThreeDisplays, ACopyAfterAPropagationIsFoundOnEveryDisplay) {
    const auto all = displays();
    for (int round = 0; round < 2; ++round) {
        for (const auto& source : all) {
            const std::string text = "round " + std::to_string(round) + " from " + source.name;
            SCOPED_TRACE(text);
            source.copy(text);
            ASSERT_TRUE(everywhere(text, 10s));
            // Past the loop's settling pause: the service now owns all three again.
            service_->wait_until([] { return false; }, 300ms);
        }
    }
    EXPECT_EQ(service_->err().find("FATAL"), std::string::npos) << service_->err();
}

TEST_F(OwnTextOnThreeDisplays, SixtyFourMebibytesCrossFromXToWaylandAndXWhole) {
    std::string text;
    text.reserve(64 << 20);
    for (std::size_t line = 0; text.size() < (64u << 20) - 64; ++line)
        text += std::to_string(line) + " grüße from the first X display\n";
    text.resize(64u << 20, '.');
    xclip_copy(x1_.display(), text);
    ASSERT_TRUE(everywhere(text, 180s, 60s));
    // The service now idles on its own 64 MiB in every clipboard without reading it back; a
    // short copy by another client must still be found.
    service_->wait_until([] { return false; }, 300ms);
    wl_copy(wayland_, "short, after the large one");
    EXPECT_TRUE(everywhere("short, after the large one", 10s));
    EXPECT_EQ(service_->err().find("FATAL"), std::string::npos) << service_->err();
}

} // namespace
} // namespace quillfen::test
