// The Xvfb fixture: each server has a display number of its own, and a killed and restarted
// server comes back on the same one.
#include <gtest/gtest.h>

#include <unistd.h>

#include <stdexcept>
#include <string>

#include "tests/servers/xvfb_server.hpp"
#include "tests/x11clip/x11_clients.hpp"

namespace quillfen::test {
namespace {

TEST(XvfbFixture, KillAndRestartKeepTheNumber) {
    XvfbServer server;
    XvfbServer other;
    EXPECT_NE(server.number(), other.number());
    const int number = server.number();
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    EXPECT_EQ(::access(socket.c_str(), F_OK), 0);

    server.kill();
    EXPECT_NE(::access(socket.c_str(), F_OK), 0);
    EXPECT_THROW(RawClient{server.display()}, std::runtime_error);

    server.restart();
    EXPECT_EQ(server.number(), number);
    EXPECT_EQ(RawClient(server.display()).clipboard_owner(), XCB_NONE);
}

} // namespace
} // namespace quillfen::test
