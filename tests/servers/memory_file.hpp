// A memory file that a process holds open, looked at from outside: found by its name among the
// process's descriptors, with the memory it takes and the bytes it holds.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "tests/servers/watched_process.hpp"

namespace quillfen::test {

// A new descriptor of the memory file named `name` that process `pid` holds; invalid when it
// holds none.
UniqueFd open_memory_file(pid_t pid, std::string_view name);

// The memory the file's pages take, holes left out.
std::uint64_t allocated_bytes(int fd);

// The offset of the first byte of the whole file that is one of `bytes`; read, not mapped, so
// that holes are read as zeros without being filled.
std::optional<std::uint64_t> first_of(int fd, std::string_view bytes);

} // namespace quillfen::test
