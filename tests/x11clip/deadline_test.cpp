// Time limits on blocking libxcb calls, and what a firing limit may touch.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "util/unique_fd.hpp"
#include "x11clip/connection.hpp"
#include "x11clip/deadline.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;

struct Pair {
    util::UniqueFd a, b;
};
Pair socket_pair() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        throw std::runtime_error("socketpair");
    return {util::UniqueFd(fds[0]), util::UniqueFd(fds[1])};
}

// A server's refusal of the connection set-up: status Failed, no reason, version 11.0.
constexpr char refusal[8] = {0, 0, 11, 0, 0, 0, 0, 0};

// libxcb closes the socket of a refused handshake while the deadline that bounds the
// handshake is still armed; the number is free then, and the next descriptor takes it.
TEST(X11ClipDeadline, FiringAfterAFailedHandshakeLeavesADescriptorThatReusedTheNumberAlone) {
    auto server = socket_pair();
    ASSERT_EQ(::write(server.b.get(), refusal, sizeof refusal), 8);
    const int number = server.a.get();
    Pair reused;
    {
        const x11clip::Deadline bound(number, 200ms);
        x11clip::ConnectionPtr xcb{xcb_connect_to_fd(server.a.release(), nullptr)};
        ASSERT_NE(xcb_connection_has_error(xcb.get()), 0);
        ASSERT_EQ(::fcntl(number, F_GETFD), -1) << "the failed connection kept the socket";
        reused = socket_pair();
        ASSERT_TRUE(reused.a.get() == number || reused.b.get() == number);
        std::this_thread::sleep_for(600ms); // the deadline fires meanwhile
    }
    const std::string text = "still usable";
    for (auto [from, to] : {std::pair{&reused.a, &reused.b}, std::pair{&reused.b, &reused.a}}) {
        ASSERT_EQ(::send(from->get(), text.data(), text.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(text.size()));
        char buffer[32] = {};
        ASSERT_EQ(::recv(to->get(), buffer, sizeof buffer, MSG_DONTWAIT),
                  static_cast<ssize_t>(text.size()));
        EXPECT_EQ(std::string(buffer, text.size()), text);
    }
}

} // namespace
} // namespace quillfen::test
