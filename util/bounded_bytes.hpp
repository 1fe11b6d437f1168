// The bytes of one read, gathered piece by piece up to a limit: an owner that never stops
// sending would otherwise grow the reader without end.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace util {

class BoundedBytes {
  public:
    explicit BoundedBytes(std::size_t limit) : limit_(limit) {}

    // Adds `piece`; false when the bytes would pass the limit, and then all are freed.
    bool append(std::string_view piece);

    std::size_t size() const { return size_; }
    // How many more bytes the limit allows.
    std::size_t room() const { return limit_ - size_; }

    // All bytes in one string; the blocks are freed as they are copied.
    std::string take();

  private:
    // Blocks of at most this many bytes, each filled before the next: growing never copies what
    // came before, so a read stopped at the limit holds the limit and little more.
    static constexpr std::size_t block_size = std::size_t{4} << 20;

    std::size_t limit_;
    std::size_t size_ = 0;
    std::vector<std::string> blocks_;
};

} // namespace util
