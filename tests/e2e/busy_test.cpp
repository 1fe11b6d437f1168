// A display that is busy for a few seconds (its server grabbed by another client, as a screenshot
// tool's region selection does) is neither gone nor a clear: a copy made elsewhere meanwhile is
// not reverted when it answers again, and it stays in the list and comes back with the shared
// text. Two Xvfb displays and no compositor, so that the grabbed display is read first.

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/servers/isolation.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/watched_process.hpp"
#include "tests/servers/xvfb_server.hpp"
#include "tests/x11clip/x11_clients.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;

class BusyDisplay : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_UNLESS_ISOLATED();
        auto one = std::make_unique<XvfbServer>();
        auto other = std::make_unique<XvfbServer>();
        if (one->number() > other->number())
            std::swap(one, other);
        first_ = std::move(one);
        second_ = std::move(other);
        char name[] = "/tmp/quillfen-busy-runtime.XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        runtime_dir_ = name;
        service_ = std::make_unique<WatchedProcess>(
            std::vector<std::string>{QUILLFEN_BINARY, "--hide-timestamp", "--log-level", "debug"},
            WatchOptions{.environment = {"XDG_RUNTIME_DIR=" + runtime_dir_}});
        ASSERT_TRUE(service_->wait_for_out(" INFO - Using clipboards: ", 60s)) << service_->err();
    }

    void TearDown() override {
        service_.reset();
        if (!runtime_dir_.empty())
            std::filesystem::remove_all(runtime_dir_);
    }

    std::vector<std::optional<std::string>> holdings() const {
        return {xclip_paste(first_->display()), xclip_paste(second_->display())};
    }

    bool both_hold(const std::string& text, std::chrono::milliseconds limit) {
        return service_->wait_until(
            [&] {
                return holdings() == std::vector<std::optional<std::string>>{text, text};
            },
            limit);
    }

    std::string log() const { return service_->out() + service_->err(); }

    std::unique_ptr<XvfbServer> first_; // the lower number, read first
    std::unique_ptr<XvfbServer> second_;
    std::string runtime_dir_;
    std::unique_ptr<WatchedProcess> service_;
};

TEST_F(BusyDisplay, CopyMadeWhileAnotherDisplayIsBusyIsNotReverted) {
    xclip_copy(first_->display(), "old");
    ASSERT_TRUE(both_hold("old", 10s)) << log();
    {
        ServerGrab grab(first_->display());
        xclip_copy(second_->display(), "new");
        service_->wait_until([] { return false; }, 3s);
    }
    EXPECT_TRUE(both_hold("new", 20s)) << log();
    // A revert would come with the display's next read or a rediscovery.
    service_->wait_until([] { return false; }, 3s);
    EXPECT_EQ(holdings(), (std::vector<std::optional<std::string>>{"new", "new"})) << log();
}

TEST_F(BusyDisplay, DisplayBusyForSecondsStaysAndComesBackWithTheSharedText) {
    xclip_copy(second_->display(), "shared before");
    ASSERT_TRUE(both_hold("shared before", 10s)) << log();
    {
        ServerGrab grab(first_->display());
        service_->wait_until([] { return false; }, 7s);
    }
    EXPECT_TRUE(both_hold("shared before", 20s)) << log();
    xclip_copy(first_->display(), "copied after");
    EXPECT_TRUE(both_hold("copied after", 20s)) << log();
    // Never left out of the list, not even for a while.
    const std::string out = service_->out();
    for (auto at = out.find("Using clipboards: "); at != std::string::npos;
         at = out.find("Using clipboards: ", at + 1))
        EXPECT_NE(out.substr(at, out.find('\n', at) - at).find('"' + first_->display() + '"'),
                  std::string::npos)
            << out;
}

} // namespace
} // namespace quillfen::test
