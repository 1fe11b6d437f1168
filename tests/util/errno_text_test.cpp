// Error numbers in the forms the log lines and error texts print them.
#include <gtest/gtest.h>

#include <cerrno>

#include "util/errno_text.hpp"

namespace util {
namespace {

TEST(ErrnoText, ErrorNumbersInEveryForm) {
    struct Case {
        int code;
        const char* name;
        const char* full;
        const char* os_error;
    };
    const Case cases[] = {
        {ECHILD, "ECHILD", "ECHILD: No child processes", "No child processes (os error 10)"},
        {ESRCH, "ESRCH", "ESRCH: No such process", "No such process (os error 3)"},
        {EPERM, "EPERM", "EPERM: Operation not permitted", "Operation not permitted (os error 1)"},
        {EINVAL, "EINVAL", "EINVAL: Invalid argument", "Invalid argument (os error 22)"},
        {EAGAIN, "EAGAIN", "EAGAIN: Resource temporarily unavailable",
         "Resource temporarily unavailable (os error 11)"},
        {EPIPE, "EPIPE", "EPIPE: Broken pipe", "Broken pipe (os error 32)"},
        {4000, "UnknownErrno", "UnknownErrno: Unknown errno", "Unknown error 4000 (os error 4000)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(errno_name(c.code), c.name);
        EXPECT_EQ(errno_full(c.code), c.full);
        EXPECT_EQ(os_error_text(c.code), c.os_error);
    }
    EXPECT_EQ(errno_description(EPIPE), "Broken pipe");
    EXPECT_EQ(errno_description(4000), "Unknown error 4000");
}

} // namespace
} // namespace util
