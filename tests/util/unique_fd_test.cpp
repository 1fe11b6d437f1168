// Every way a UniqueFd lets go of a descriptor closes it once, and only the last holder does.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "util/unique_fd.hpp"

namespace util {
namespace {

bool is_open(int fd) {
    return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

int open_null() {
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    return fd;
}

TEST(UniqueFd, TheLastHolderClosesTheDescriptor) {
    const int raw = open_null();
    {
        UniqueFd first(raw);
        UniqueFd second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(first.get(), -1);
        EXPECT_TRUE(is_open(raw)); // the moved-from holder closed nothing
        UniqueFd third;
        third = std::move(second);
        EXPECT_TRUE(is_open(raw));
        EXPECT_EQ(third.get(), raw);
    }
    EXPECT_FALSE(is_open(raw));
}

TEST(UniqueFd, ResetAndAssignmentCloseTheDescriptorHeldBefore) {
    const int a = open_null();
    const int b = open_null();
    UniqueFd held(a);
    held.reset(b);
    EXPECT_FALSE(is_open(a));
    EXPECT_EQ(held.get(), b);

    const int c = open_null();
    held = UniqueFd(c);
    EXPECT_FALSE(is_open(b));
    held.reset();
    EXPECT_FALSE(is_open(c));
    EXPECT_FALSE(held);
}

TEST(UniqueFd, ReleaseHandsTheDescriptorBackOpen) {
    const int raw = open_null();
    {
        UniqueFd held(raw);
        EXPECT_EQ(held.release(), raw);
    }
    EXPECT_TRUE(is_open(raw));
    ::close(raw);
}

} // namespace
} // namespace util
