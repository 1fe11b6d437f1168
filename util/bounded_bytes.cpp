#include "util/bounded_bytes.hpp"

#include <algorithm>

namespace util {

bool BoundedBytes::append(std::string_view piece) {
    if (piece.size() > room()) {
        blocks_.clear();
        size_ = 0;
        return false;
    }
    size_ += piece.size();
    while (!piece.empty()) {
        if (blocks_.empty() || blocks_.back().size() == block_size)
            blocks_.emplace_back();
        std::string& block = blocks_.back();
        const std::size_t taken = std::min(piece.size(), block_size - block.size());
        // A block grows as a string does, but never past block_size: a small text costs no
        // more than itself.
        if (block.size() + taken > block.capacity())
            block.reserve(
                std::min(block_size, std::max(block.size() + taken, 2 * block.capacity())));
        block.append(piece.substr(0, taken));
        piece.remove_prefix(taken);
    }
    return true;
}

std::string BoundedBytes::take() {
    std::string all;
    if (blocks_.size() == 1) {
        all = std::move(blocks_.front());
    } else {
        all.reserve(size_);
        for (std::string& block : blocks_) {
            all += block;
            block = std::string();
        }
    }
    blocks_.clear();
    size_ = 0;
    return all;
}

} // namespace util
