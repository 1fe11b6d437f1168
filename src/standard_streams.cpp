#include "standard_streams.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace quillfen {

void fill_closed_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        // The lowest free descriptor is this one, since the lower ones are open by now.
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
}

} // namespace quillfen
