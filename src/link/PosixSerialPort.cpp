// The Linux serial port: termios for the line settings, poll() for the read time-outs and an
// eventfd that wakes a blocked read from any thread.
//
// Qt Serial Port is not used here: its blocking waitForReadyRead cannot be interrupted from
// another thread, and its asynchronous mode needs an event loop in the reader thread. A plain
// file descriptor polled together with an eventfd gives a read that blocks without spinning,
// honours both time-outs exactly and ends within microseconds when STOP asks it to.
#include "link/SerialPort.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace zelvox {

QString PortDevicePath(const QString& portName) {
    if (portName.startsWith(QLatin1Char('/')))
        return portName;
    return QStringLiteral("/dev/") + portName;
}

namespace {

using Clock = std::chrono::steady_clock;

// One byte on the line at 2400 baud, 8N1: a start bit, eight data bits and a stop bit.
constexpr std::chrono::microseconds kByteTime{10 * 1000000 / 2400};

Clock::duration LineTime(std::size_t bytes) {
    return kByteTime * static_cast<long long>(bytes);
}

PortError ErrorFromCode(int code) {
    return PortError{code, QString::fromLocal8Bit(std::strerror(code))};
}

// Raw 8N1 at 2400 baud: no parity bit and no parity checking, no flow control of any kind,
// no line editing or character translation. CLOCAL so that a missing carrier neither blocks
// nor hangs up the port.
bool ApplyLineSettings(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return false;
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | INPCK | IMAXBEL);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    // VMIN 1: with O_NONBLOCK an empty buffer then reads as EAGAIN, never as end of file.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, B2400) != 0 || ::cfsetospeed(&t, B2400) != 0)
        return false;
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

// The slave side of a Unix 98 pseudo-terminal (/dev/pts/N).
bool IsPseudoTerminal(int fd) {
    constexpr unsigned kFirstMajor = 136, kMajorCount = 8; // UNIX98_PTY_SLAVE_MAJOR and its range
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= kFirstMajor &&
           major(st.st_rdev) < kFirstMajor + kMajorCount;
}

class PosixSerialPort final : public SerialPort {
public:
    PosixSerialPort() : cancelFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    ~PosixSerialPort() override {
        Close();
        if (cancelFd_ >= 0)
            ::close(cancelFd_);
    }

    bool Open(const QString& portName, PortError* error) override {
        Close();
        const auto fail = [&](int code) {
            if (error)
                *error = ErrorFromCode(code);
            Close();
            return false;
        };
        if (cancelFd_ < 0)
            return fail(EMFILE);
        if (portName.isEmpty())
            return fail(ENOENT);
        const QByteArray path = PortDevicePath(portName).toLocal8Bit();
        fd_ = ::open(path.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return fail(errno);
        // Whether the port is in use is the advisory lock's to say: the kernel drops it when
        // its holder ends, however it ends. The query fails with ENOTTY on anything that is
        // not a terminal.
        int flagged = 0;
        if (::ioctl(fd_, TIOCGEXCL, &flagged) != 0)
            return fail(errno);
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
            return fail(errno == EWOULDBLOCK ? EBUSY : errno);
        // Exclusive mode with the lock free was left by a holder that did not get to close the
        // port: clear it. (Only root gets a descriptor on a device in exclusive mode at all.)
        if (flagged != 0 && ::ioctl(fd_, TIOCNXCL) != 0)
            return fail(errno);
        // Exclusive mode keeps programs that do not take the lock out as well. A serial device
        // normally drops it with its last close, so a holder killed outright leaves nothing
        // behind (unless something else keeps the device open, a console for one: then root
        // clears it above). A pseudo-terminal keeps it for as long as its master lives, and
        // nobody but root could open it again: there the lock alone guards the port.
        if (!IsPseudoTerminal(fd_)) {
            if (::ioctl(fd_, TIOCEXCL) != 0)
                return fail(errno);
            exclusive_ = true;
        }
        if (!ApplyLineSettings(fd_))
            return fail(errno);
        // Opening a serial device raises DTR and RTS; lower them again. Devices without modem
        // lines (a pseudo-terminal) refuse the request, which is fine.
        int lines = TIOCM_DTR | TIOCM_RTS;
        ::ioctl(fd_, TIOCMBIC, &lines);
        ::tcflush(fd_, TCIOFLUSH);
        ClearCancel();
        holdUntil_ = {};
        return true;
    }

    void Close() override {
        if (fd_ < 0)
            return;
        // The exclusive mode belongs to the device, not to this descriptor.
        if (exclusive_)
            ::ioctl(fd_, TIOCNXCL);
        exclusive_ = false;
        ::close(fd_);
        fd_ = -1;
    }

    bool IsOpen() const override { return fd_ >= 0; }

    ReadResult Read(std::uint8_t* buffer, std::size_t n) override {
        ReadResult result;
        if (fd_ < 0) {
            result.status = ReadStatus::Failed;
            result.error = EBADF;
            return result;
        }
        if (n == 0) {
            result.status = ReadStatus::Complete;
            return result;
        }
        const ReadTimeouts timeouts = timeouts_;
        const Clock::time_point totalDeadline =
            Clock::now() + std::chrono::milliseconds(timeouts.totalConstantMs) +
            std::chrono::milliseconds(static_cast<long long>(timeouts.totalPerByteMs) *
                                      static_cast<long long>(n));
        // The time of the last byte is taken when the reader sees it, which after a wait for
        // the rest of a frame is up to that wait late: the silence time-out may end a little
        // later than the line fell silent, never earlier.
        Clock::time_point lastByte{};
        // After bytes came, the rest of the frame is on its way at the line's pace: wait its
        // line time and take it in one go. poll() on the terminal would wake for every byte
        // (whatever VMIN says), 20 times per frame. Once such a wait brings nothing, the line
        // has paused: wait for its next byte itself.
        bool restOnItsWay = false;
        bool lineWokeHold = false;
        for (;;) {
            const bool holding = Clock::now() < holdUntil_;
            const ssize_t got = holding ? -1 : ::read(fd_, buffer + result.count, n - result.count);
            if (holding) {
                // HoldOff: nothing is taken from the line yet.
            } else if (got > 0) {
                result.count += static_cast<std::size_t>(got);
                lastByte = Clock::now();
                if (result.count == n) {
                    result.status = ReadStatus::Complete;
                    return result;
                }
                restOnItsWay = true;
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                // Nothing to read on a line that reported readable is a hang-up (a USB adapter
                // pulled out); an error (EIO from a pseudo-terminal whose master has gone) ends
                // the read the same way.
                result.status = ReadStatus::Failed;
                result.error = got < 0 ? errno : 0;
                return result;
            } else if (errno == EAGAIN) {
                restOnItsWay = false;
            }

            Clock::time_point deadline = totalDeadline;
            if (result.count > 0)
                deadline = std::min(deadline, lastByte + std::chrono::milliseconds(timeouts.intervalMs));
            const Clock::time_point now = Clock::now();
            if (now >= deadline) {
                result.status = ReadStatus::TimedOut;
                return result;
            }
            Clock::time_point wakeAt = deadline;
            bool watchLine = !restOnItsWay;
            if (holding) {
                // Sit out the hold together with the rest of the line time of a frame that is
                // coming in, or wait on a quiet line for its next byte: either way the pause
                // after a frame costs no wake-up of its own. (A line that wakes us during the
                // hold with nothing to read has hung up: the read after the hold says so.)
                const std::size_t need = n - result.count;
                int queued = 0;
                ::ioctl(fd_, FIONREAD, &queued);
                if (queued == 0 && !lineWokeHold) {
                    lineWokeHold = true;
                } else {
                    wakeAt = holdUntil_;
                    if (queued > 0 && static_cast<std::size_t>(queued) < need)
                        wakeAt =
                            std::max(wakeAt, now + LineTime(need - static_cast<std::size_t>(queued) + 1));
                    wakeAt = std::min(wakeAt, deadline);
                    watchLine = false;
                }
            } else if (restOnItsWay) {
                wakeAt = std::min(deadline, now + LineTime(n - result.count + 1));
            }
            // Round up: waking a moment late costs nothing, waking early costs a wake-up.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(wakeAt - now).count();
            pollfd fds[2] = {{cancelFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
            const int ready = ::poll(fds, watchLine ? 2 : 1, static_cast<int>(left));
            if (ready < 0 && errno != EINTR) {
                result.status = ReadStatus::Failed;
                result.error = errno;
                return result;
            }
            if (ready > 0 && fds[0].revents != 0) {
                result.status = ReadStatus::Cancelled;
                return result;
            }
            if (ready > 0 && (fds[1].revents & POLLNVAL)) {
                result.status = ReadStatus::Failed;
                result.error = EBADF;
                return result;
            }
        }
    }

    void Cancel() override {
        // write() on an eventfd is async-signal-safe; the counter stays set until cleared.
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(cancelFd_, &one, sizeof one);
    }

    void ClearCancel() override {
        std::uint64_t value = 0;
        [[maybe_unused]] const ssize_t got = ::read(cancelFd_, &value, sizeof value);
    }

    void SetTimeouts(const ReadTimeouts& timeouts) override { timeouts_ = timeouts; }

    void HoldOff(std::chrono::milliseconds pause) override { holdUntil_ = Clock::now() + pause; }

private:
    // Atomic: the reader reopens a lost port while the UI thread may ask IsOpen.
    std::atomic<int> fd_{-1};
    bool exclusive_ = false; // we put the device in exclusive mode
    int cancelFd_ = -1;
    ReadTimeouts timeouts_;
    Clock::time_point holdUntil_{};
};

} // namespace

std::unique_ptr<SerialPort> CreateSerialPort() {
    return std::make_unique<PosixSerialPort>();
}

} // namespace zelvox
