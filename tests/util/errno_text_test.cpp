// Error numbers in the forms the log lines and error texts print them.
#include <gtest/gtest.h>

#include <cerrno>

#include "util/errno_text.hpp"

namespace util {
namespace {

TEST(ErrnoText, ErrorNumbersInShortAndFullForm) {
    struct Case {
        int code;
        const char* name;
        const char* full;
    };
    const Case cases[] = {
        {ECHILD, "ECHILD", "ECHILD: No child processes"},
        {ESRCH, "ESRCH", "ESRCH: No such process"},
        {EPERM, "EPERM", "EPERM: Operation not permitted"},
        {EINVAL, "EINVAL", "EINVAL: Invalid argument"},
        {EAGAIN, "EAGAIN", "EAGAIN: Resource temporarily unavailable"},
        {4000, "UnknownErrno", "UnknownErrno: Unknown errno"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(errno_name(c.code), c.name);
        EXPECT_EQ(errno_full(c.code), c.full);
    }
}

TEST(ErrnoText, DescriptionsAndOsErrors) {
    struct Case {
        int code;
        const char* description;
        const char* os_error;
    };
    const Case cases[] = {
        {EPIPE, "Broken pipe", "Broken pipe (os error 32)"},
        {ENOSPC, "No space left on device", "No space left on device (os error 28)"},
        {EMFILE, "Too many open files", "Too many open files (os error 24)"},
        {4000, "Unknown error 4000", "Unknown error 4000 (os error 4000)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(errno_description(c.code), c.description);
        EXPECT_EQ(os_error_text(c.code), c.os_error);
    }
}

} // namespace
} // namespace util
