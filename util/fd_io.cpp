#include "util/fd_io.hpp"

#include <unistd.h>

#include <cerrno>

namespace util {

namespace {

// `call(done)` makes one system call for what is left after the first `done` bytes. Only its
// error ends the loop: what it moved, none included, counts as a short write.
template <class Call>
std::expected<void, int> write_loop(std::size_t length, Call call) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = call(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::unexpected(errno);
        done += static_cast<std::size_t>(n);
    }
    return {};
}

// The same for reads, which stop at the end of the data as well.
template <class Call>
std::expected<std::size_t, int> read_loop(std::size_t length, Call call) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = call(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::unexpected(errno);
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

} // namespace

std::expected<void, int> write_all(int fd, std::string_view bytes) {
    return write_loop(
        bytes.size(),
        [&](std::size_t done) { return ::write(fd, bytes.data() + done, bytes.size() - done); });
}

std::expected<void, int> write_all_at(int fd, std::string_view bytes, off_t offset) {
    return write_loop(
        bytes.size(),
        [&](std::size_t done) {
            return ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                            offset + static_cast<off_t>(done));
        });
}

std::expected<std::size_t, int> read_full(int fd, std::span<char> to) {
    return read_loop(
        to.size(),
        [&](std::size_t done) { return ::read(fd, to.data() + done, to.size() - done); });
}

std::expected<std::size_t, int> read_full_at(int fd, std::span<char> to, off_t offset) {
    return read_loop(
        to.size(),
        [&](std::size_t done) {
            return ::pread(fd, to.data() + done, to.size() - done,
                           offset + static_cast<off_t>(done));
        });
}

} // namespace util
