// Whole-buffer reads and writes on a descriptor: a transfer cut short goes on from where it
// stopped, and a call that a signal interrupts before it moved anything is made again.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <expected>
#include <span>
#include <string_view>

namespace util {

// Writes all of `bytes`: nothing, or the error number of the write that failed.
std::expected<void, int> write_all(int fd, std::string_view bytes);
// The same with pwrite, from `offset` on; the descriptor's own offset stays where it is.
std::expected<void, int> write_all_at(int fd, std::string_view bytes, off_t offset);

// Reads until `to` is full or the data ends: the bytes read, fewer than asked only at the end,
// or the error number of the read that failed.
std::expected<std::size_t, int> read_full(int fd, std::span<char> to);
// The same with pread, from `offset` on.
std::expected<std::size_t, int> read_full_at(int fd, std::span<char> to, off_t offset);

} // namespace util
