#include "tests/servers/memory_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillfen::test {

UniqueFd open_memory_file(pid_t pid, std::string_view name) {
    // How the kernel shows a memory file's link: its name after "memfd:", never on disk.
    const std::string link = "/memfd:" + std::string(name) + " (deleted)";
    std::error_code error;
    const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
        std::error_code unreadable;
        if (std::filesystem::read_symlink(entry.path(), unreadable) == link)
            return UniqueFd(open(entry.path().c_str(), O_RDONLY | O_CLOEXEC));
    }
    return {};
}

std::uint64_t allocated_bytes(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return 0;
    // st_blocks counts 512-byte units whatever the file system's block size.
    return static_cast<std::uint64_t>(st.st_blocks) * 512;
}

std::optional<std::uint64_t> first_of(int fd, std::string_view bytes) {
    std::vector<char> buffer(1 << 20);
    for (std::uint64_t offset = 0;;) {
        const ssize_t n = pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
        if (n < 0)
            throw std::runtime_error("cannot read the memory file");
        if (n == 0)
            return std::nullopt;
        const std::string_view read(buffer.data(), static_cast<std::size_t>(n));
        if (const auto found = read.find_first_of(bytes); found != std::string_view::npos)
            return offset + found;
        offset += static_cast<std::uint64_t>(n);
    }
}

} // namespace quillfen::test
