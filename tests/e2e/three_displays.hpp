// Two Xvfb displays and a headless sway in the test's own namespaces, and the built service
// started on them with debug lines and without timestamps.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/servers/isolation.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/servers/watched_process.hpp"
#include "tests/servers/xvfb_server.hpp"

namespace quillfen::test {

class ThreeDisplays : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_UNLESS_ISOLATED();
        x1_ = std::make_unique<XvfbServer>();
        x2_ = std::make_unique<XvfbServer>();
        sway_ = std::make_unique<SwayServer>();
        wayland_ = WaylandPeer{sway_->runtime_dir(), sway_->socket_name()};
    }

    std::unique_ptr<WatchedProcess> start_service(std::vector<std::string> extra_args = {},
                                                  WatchOptions options = {}) const {
        std::vector<std::string> argv{QUILLFEN_BINARY, "--hide-timestamp", "--log-level", "debug"};
        argv.insert(argv.end(), extra_args.begin(), extra_args.end());
        options.environment.push_back("XDG_RUNTIME_DIR=" + sway_->runtime_dir());
        return std::make_unique<WatchedProcess>(argv, options);
    }

    std::unique_ptr<XvfbServer> x1_;
    std::unique_ptr<XvfbServer> x2_;
    std::unique_ptr<SwayServer> sway_;
    WaylandPeer wayland_;
};

} // namespace quillfen::test
