#include "tests/servers/test_accounts.hpp"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace quillfen::test {

Account test_account(const char* name) {
    if (passwd* pw = ::getpwnam(name))
        return {pw->pw_uid, pw->pw_gid};
    // Another test process may create it at the same moment; look again either way.
    const std::string command =
        std::string("useradd -r -M -s /usr/sbin/nologin ") + name + " 2>/dev/null";
    [[maybe_unused]] int status = std::system(command.c_str());
    if (passwd* pw = ::getpwnam(name))
        return {pw->pw_uid, pw->pw_gid};
    throw std::runtime_error(std::string("cannot create the user ") + name);
}

bool become(const Account& account) {
    return ::setgroups(0, nullptr) == 0 && ::setgid(account.gid) == 0 && ::setuid(account.uid) == 0;
}

} // namespace quillfen::test
