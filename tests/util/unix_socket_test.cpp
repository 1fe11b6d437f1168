// The bounded connect reaches a listener at a path or an abstract name, says why it could not,
// and gives up on a listener whose queue stays full instead of hanging.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "util/unix_socket.hpp"

namespace util {
namespace {

using Clock = std::chrono::steady_clock;

std::string unique_name(const char* what) {
    return "/tmp/util-unix-socket-" + std::to_string(::getpid()) + "-" + what;
}

// Listens at `address` and never accepts; `backlog` 0 fills the queue after one connect.
UniqueFd listen_at(const UnixAddress& address, int backlog) {
    UniqueFd fd{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    EXPECT_TRUE(fd);
    EXPECT_EQ(::bind(fd.get(), address.get(), address.length), 0);
    EXPECT_EQ(::listen(fd.get(), backlog), 0);
    return fd;
}

struct AddressCase {
    const char* name;
    bool abstract;
};
// Its name, so that the test's full name is the same in every build.
void PrintTo(const AddressCase& c, std::ostream* os) {
    *os << c.name;
}

class ConnectUnix : public ::testing::TestWithParam<AddressCase> {
  protected:
    void TearDown() override {
        if (!GetParam().abstract)
            ::unlink(name_.c_str());
    }
    UnixAddress address() const {
        auto made = GetParam().abstract ? UnixAddress::abstract(name_) : UnixAddress::path(name_);
        EXPECT_TRUE(made);
        return *made;
    }
    std::string name_ = unique_name(GetParam().name);
};

TEST_P(ConnectUnix, ReachesAListenerAndHandsBackABlockingCloseOnExecDescriptor) {
    const UniqueFd listener = listen_at(address(), 4);
    auto fd = connect_unix(address(), Clock::now() + std::chrono::seconds(2));
    ASSERT_TRUE(fd);
    EXPECT_EQ(::fcntl(fd->get(), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(::fcntl(fd->get(), F_GETFD) & FD_CLOEXEC, 0);
}

TEST_P(ConnectUnix, NobodyListeningIsRefused) {
    auto fd = connect_unix(address(), Clock::now() + std::chrono::seconds(2));
    ASSERT_FALSE(fd);
    EXPECT_EQ(fd.error().kind, ConnectFailure::Kind::refused);
}

TEST_P(ConnectUnix, AListenerThatNeverAcceptsIsGivenUpOnAtTheDeadline) {
    const UniqueFd listener = listen_at(address(), 0);
    std::vector<UniqueFd> queued;
    // Fill the queue: once it is full, a connect can only wait.
    for (;;) {
        auto fd = connect_unix(address(), Clock::now());
        if (!fd) {
            EXPECT_EQ(fd.error().kind, ConnectFailure::Kind::timed_out);
            break;
        }
        queued.push_back(std::move(*fd));
        ASSERT_LT(queued.size(), 64u);
    }
    auto late = connect_unix(address(), Clock::now() + std::chrono::milliseconds(100));
    ASSERT_FALSE(late);
    EXPECT_EQ(late.error().kind, ConnectFailure::Kind::timed_out);
}

INSTANTIATE_TEST_SUITE_P(Addresses, ConnectUnix,
                         ::testing::Values(AddressCase{"path", false},
                                           AddressCase{"abstract", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UnixAddress, ANameThatDoesNotFitIsNone) {
    const std::string fits(sizeof(sockaddr_un{}.sun_path) - 1, 'x');
    EXPECT_TRUE(UnixAddress::path(fits));
    EXPECT_FALSE(UnixAddress::path(fits + "x"));
    EXPECT_TRUE(UnixAddress::abstract(fits));
    EXPECT_FALSE(UnixAddress::abstract(fits + "x"));
}

TEST(UnixAddress, AnAbstractNameHasNoFileAndNoTerminator) {
    const auto address = UnixAddress::abstract("name");
    ASSERT_TRUE(address);
    EXPECT_EQ(address->address.sun_path[0], '\0');
    EXPECT_EQ(std::string(address->address.sun_path + 1, 4), "name");
    EXPECT_EQ(address->length, offsetof(sockaddr_un, sun_path) + 5);
}

} // namespace
} // namespace util
