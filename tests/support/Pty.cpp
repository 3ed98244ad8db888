#include "support/Pty.h"

#include <cerrno>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace zelvox::testing {

Pty::Pty() {
    termios raw{};
    ::cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master_, &slave, name, &raw, nullptr) != 0) {
        master_ = -1;
        return;
    }
    ::close(slave);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    slavePath_ = QString::fromLocal8Bit(name);
}

Pty::~Pty() {
    CloseMaster();
}

bool Pty::Write(const std::uint8_t* data, std::size_t n) {
    while (n > 0) {
        const ssize_t written = ::write(master_, data, n);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        n -= static_cast<std::size_t>(written);
    }
    return true;
}

void Pty::CloseMaster() {
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

} // namespace zelvox::testing
