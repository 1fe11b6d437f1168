#include "x11clip/xauthority.hpp"

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fstream>

namespace x11clip {

namespace {

constexpr std::uint16_t family_local = 256;
constexpr std::uint16_t family_wild = 65535;
constexpr std::string_view cookie_name = "MIT-MAGIC-COOKIE-1";
// Far more than any real authority file; a larger one is not read.
constexpr std::size_t largest_file = 1 << 20;

// Entries are: family, then address, display number, name and data, each a 16-bit big-endian
// length followed by that many bytes.
class Entries {
  public:
    explicit Entries(std::string_view file) : rest_(file) {}

    std::optional<std::uint16_t> number() {
        if (rest_.size() < 2)
            return std::nullopt;
        const auto value = static_cast<std::uint16_t>(
            (static_cast<unsigned char>(rest_[0]) << 8) | static_cast<unsigned char>(rest_[1]));
        rest_.remove_prefix(2);
        return value;
    }

    std::optional<std::string_view> counted() {
        auto length = number();
        if (!length || rest_.size() < *length)
            return std::nullopt;
        auto field = rest_.substr(0, *length);
        rest_.remove_prefix(*length);
        return field;
    }

  private:
    std::string_view rest_;
};

std::string authority_path() {
    if (const char* path = std::getenv("XAUTHORITY"); path != nullptr && *path != '\0')
        return path;
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return std::string(home) + "/.Xauthority";
    return {};
}

std::string host_name() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

} // namespace

std::optional<Cookie> find_cookie(std::string_view file, std::string_view host, int number) {
    const std::string wanted_number = std::to_string(number);
    Entries entries(file);
    for (;;) {
        auto family = entries.number();
        auto address = entries.counted();
        auto display = entries.counted();
        auto name = entries.counted();
        auto data = entries.counted();
        if (!family || !address || !display || !name || !data)
            return std::nullopt; // the end, or a truncated entry
        const bool this_host =
            *family == family_wild || (*family == family_local && *address == host);
        // An entry without a number is for every display.
        const bool this_display = display->empty() || *display == wanted_number;
        if (this_host && this_display && *name == cookie_name)
            return Cookie{std::string(*name), std::string(*data)};
    }
}

std::optional<Cookie> local_cookie(int number) {
    const std::string path = authority_path();
    if (path.empty())
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string file;
    file.resize(largest_file + 1);
    in.read(file.data(), static_cast<std::streamsize>(file.size()));
    file.resize(static_cast<std::size_t>(in.gcount()));
    if (file.size() > largest_file)
        return std::nullopt;
    return find_cookie(file, host_name(), number);
}

} // namespace x11clip
