#include "decode/StandardStreams.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace zelvox {

ClosedStreams OpenStandardStreams() {
    ClosedStreams closed;
    bool* const flags[3] = {&closed.input, &closed.output, &closed.error};
    for (int fd = 0; fd < 3; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        *flags[fd] = true;
        // The lowest free descriptor is this one: every lower one is open by now.
        const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
    return closed;
}

} // namespace zelvox
