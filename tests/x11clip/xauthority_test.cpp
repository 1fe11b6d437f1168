// The layer's reading of the X authority file: the cookie of this host and display.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tests/servers/scoped_environment.hpp"
#include "x11clip/xauthority.hpp"

namespace quillfen::test {
namespace {

// An authority file entry: family, then address, number, name and data with 16-bit lengths.
std::string entry(std::uint16_t family, std::string_view address, std::string_view number,
                  std::string_view name, std::string_view data) {
    std::string bytes;
    auto put16 = [&](std::size_t v) {
        bytes += static_cast<char>((v >> 8) & 0xff);
        bytes += static_cast<char>(v & 0xff);
    };
    put16(family);
    for (std::string_view field : {address, number, name, data}) {
        put16(field.size());
        bytes += field;
    }
    return bytes;
}

std::string this_host() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        throw std::runtime_error("no host name");
    return name;
}

// Points XAUTHORITY at a file of its own while it lives.
class AuthorityFile {
  public:
    explicit AuthorityFile(const std::string& contents) {
        char pattern[] = "/tmp/x11clip-xauthority-XXXXXX";
        const int fd = ::mkstemp(pattern);
        if (fd < 0)
            throw std::runtime_error("cannot create an authority file");
        path_ = pattern;
        const bool written =
            ::write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
        ::close(fd);
        if (!written)
            throw std::runtime_error("cannot write the authority file");
        environment_.set("XAUTHORITY", path_);
    }
    ~AuthorityFile() { ::unlink(path_.c_str()); }
    AuthorityFile(const AuthorityFile&) = delete;
    AuthorityFile& operator=(const AuthorityFile&) = delete;

  private:
    std::string path_;
    ScopedEnvironment environment_;
};

TEST(X11ClipAuthority, TheCookieOfThisHostAndDisplay) {
    constexpr std::uint16_t local = 256, wild = 65535, internet = 0;
    const std::string cookie = "MIT-MAGIC-COOKIE-1";
    const std::string box = this_host();
    struct Case {
        const char* what;
        std::string file;
        std::optional<std::string> data;
    };
    const Case cases[] = {
        {"local entry", entry(local, box, "7", cookie, "secret"), "secret"},
        {"wildcard entry", entry(wild, "", "7", cookie, "wild"), "wild"},
        {"entry without a number", entry(local, box, "", cookie, "any"), "any"},
        {"first matching entry",
         entry(local, "other", "7", cookie, "a") + entry(local, box, "8", cookie, "b") +
             entry(internet, box, "7", cookie, "c") +
             entry(local, box, "7", "XDM-AUTHORIZATION-1", "d") +
             entry(local, box, "7", cookie, "e") + entry(local, box, "7", cookie, "f"),
         "e"},
        {"no entry for the display", entry(local, box, "17", cookie, "x"), std::nullopt},
        {"truncated entry", entry(local, box, "7", cookie, "secret").substr(0, 20), std::nullopt},
        {"empty file", "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const AuthorityFile file(c.file);
        const auto found = x11clip::local_cookie(7);
        ASSERT_EQ(found.has_value(), c.data.has_value());
        if (found) {
            EXPECT_EQ(found->name, cookie);
            EXPECT_EQ(found->data, *c.data);
        }
    }
}

} // namespace
} // namespace quillfen::test
