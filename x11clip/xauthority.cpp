#include "x11clip/xauthority.hpp"

#include <X11/Xauth.h>
#include <unistd.h>

#include <climits>
#include <memory>
#include <string_view>

namespace x11clip {

namespace {

constexpr unsigned short family_local = 256;
constexpr std::string_view cookie_name = "MIT-MAGIC-COOKIE-1";

struct AuthDeleter {
    void operator()(Xauth* auth) const { XauDisposeAuth(auth); }
};

std::string host_name() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

} // namespace

std::optional<Cookie> local_cookie(int number) {
    if (XauFileName() == nullptr)
        return std::nullopt;
    const std::string host = host_name();
    const std::string display = std::to_string(number);
    char* types[] = {const_cast<char*>(cookie_name.data())};
    const int type_lengths[] = {static_cast<int>(cookie_name.size())};
    const std::unique_ptr<Xauth, AuthDeleter> auth{XauGetBestAuthByAddr(
        family_local, static_cast<unsigned short>(host.size()), host.data(),
        static_cast<unsigned short>(display.size()), display.data(), 1, types, type_lengths)};
    if (!auth)
        return std::nullopt;
    return Cookie{std::string(auth->name, auth->name_length),
                  std::string(auth->data, auth->data_length)};
}

} // namespace x11clip
