#include "util/unique_fd.hpp"

#include <unistd.h>

namespace util {

void UniqueFd::reset(int fd) noexcept {
    if (fd_ >= 0)
        ::close(fd_); // the descriptor is gone even when close reports an error
    fd_ = fd;
}

} // namespace util
