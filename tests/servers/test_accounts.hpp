// Unprivileged accounts for tests that need processes of different users.
#pragma once

#include <sys/types.h>

namespace quillfen::test {

struct Account {
    uid_t uid;
    gid_t gid;
};

// A second account beside the compositor's user, for servers the service must not use.
inline constexpr const char* other_user = "quillfen-test2";

// The account `name`, created (without a home) when missing. Throws std::runtime_error when
// it cannot be had.
Account test_account(const char* name);

// In a forked child: becomes `account` for good. False when that failed.
bool become(const Account& account);

} // namespace quillfen::test
