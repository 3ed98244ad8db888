// The Linux serial port on real pseudo-terminals: line settings, exclusivity, errors, the two
// read time-outs, cancelling and hang-up.
#include "link/SerialPort.h"
#include "support/Pty.h"

#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace zelvox {
namespace {

using testing::Pty;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(PortDevicePath, ShortNamesLiveUnderDevAbsolutePathsStayAsTheyAre) {
    const struct {
        const char* name;
        const char* path;
    } cases[] = {
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"ttyS12", "/dev/ttyS12"},
        {"serial/by-id/usb-FTDI_X-if00-port0", "/dev/serial/by-id/usb-FTDI_X-if00-port0"},
        {"/dev/pts/4", "/dev/pts/4"},
        {"/tmp/meter", "/tmp/meter"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PortDevicePath(QString::fromLatin1(c.name)), QString::fromLatin1(c.path)) << c.name;
}

TEST(SerialPort, OpenAppliesRaw2400Baud8N1WithoutFlowControl) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    // Leave the line in a state that differs from ours in every respect that matters.
    termios dirty{};
    ASSERT_EQ(tcgetattr(pty.MasterFd(), &dirty), 0);
    dirty.c_cflag = (dirty.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
    dirty.c_iflag |= IXON | IXOFF | INPCK | ICRNL | ISTRIP;
    dirty.c_lflag |= ICANON | ECHO | ISIG;
    cfsetispeed(&dirty, B9600);
    cfsetospeed(&dirty, B9600);
    ASSERT_EQ(tcsetattr(pty.MasterFd(), TCSANOW, &dirty), 0);

    auto port = CreateSerialPort();
    PortError error;
    ASSERT_TRUE(port->Open(pty.SlavePath(), &error)) << error.reason.toStdString();
    EXPECT_TRUE(port->IsOpen());
    // The master reports the terminal settings of its slave.
    termios t{};
    ASSERT_EQ(tcgetattr(pty.MasterFd(), &t), 0);
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B2400));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B2400));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

// Whether the device is in exclusive mode; -1 when it cannot be asked.
int ExclusiveFlag(const QString& slave) {
    const int fd = ::open(slave.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    int flag = -1;
    if (fd >= 0 && ::ioctl(fd, TIOCGEXCL, &flag) != 0)
        flag = -1;
    if (fd >= 0)
        ::close(fd);
    return flag;
}

TEST(SerialPort, OpenIsExclusiveAndCloseReleasesThePort) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto first = CreateSerialPort();
    auto second = CreateSerialPort();
    ASSERT_TRUE(first->Open(pty.SlavePath(), nullptr));
    PortError error;
    EXPECT_FALSE(second->Open(pty.SlavePath(), &error));
    EXPECT_EQ(error.code, EBUSY);
    EXPECT_FALSE(second->IsOpen());
    // The lock alone guards a pseudo-terminal: exclusive mode would outlive a killed holder.
    EXPECT_EQ(ExclusiveFlag(pty.SlavePath()), 0);

    first->Close();
    EXPECT_FALSE(first->IsOpen());
    EXPECT_TRUE(second->Open(pty.SlavePath(), nullptr));
}

TEST(SerialPort, ExclusiveModeLeftByAHolderThatDiedIsClearedWhenTheLockIsFree) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can open a terminal left in exclusive mode";
    Pty pty;
    ASSERT_TRUE(pty.ok());
    const int fd = ::open(pty.SlavePath().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ioctl(fd, TIOCEXCL), 0);
    ::close(fd); // as a program killed outright would: the flag stays, the lock goes
    ASSERT_EQ(ExclusiveFlag(pty.SlavePath()), 1);

    auto port = CreateSerialPort();
    PortError error;
    ASSERT_TRUE(port->Open(pty.SlavePath(), &error)) << error.reason.toStdString();
    EXPECT_EQ(ExclusiveFlag(pty.SlavePath()), 0);
    EXPECT_FALSE(CreateSerialPort()->Open(pty.SlavePath(), nullptr)) << "a live holder must still win";
}

TEST(SerialPort, OpenFailuresGiveTheSystemsReason) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString plainFile = dir.filePath(QStringLiteral("capture.bin"));
    {
        QFile f(plainFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("\xA5", 1);
    }
    const struct {
        QString name;
        int code;
    } cases[] = {
        {dir.filePath(QStringLiteral("ttyUSB9")), ENOENT},
        {QStringLiteral("ttyNoSuchPort42"), ENOENT},
        {QString(), ENOENT},
        {plainFile, ENOTTY}, // not a terminal
    };
    for (const auto& c : cases) {
        auto port = CreateSerialPort();
        PortError error;
        EXPECT_FALSE(port->Open(c.name, &error)) << c.name.toStdString();
        EXPECT_FALSE(port->IsOpen());
        EXPECT_EQ(error.code, c.code) << c.name.toStdString();
        EXPECT_EQ(error.reason, QString::fromLocal8Bit(strerror(c.code)));
    }
}

class OpenPty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        PortError error;
        ASSERT_TRUE(port->Open(pty.SlavePath(), &error)) << error.reason.toStdString();
    }
    Pty pty;
    std::unique_ptr<SerialPort> port = CreateSerialPort();
    std::uint8_t buffer[64] = {};
};

TEST_F(OpenPty, ReadCompletesWhenAllBytesArriveInPieces) {
    std::thread writer([this] {
        const std::vector<std::uint8_t> a{1, 2, 3, 4, 5, 6, 7},
            b{8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
        pty.Write(a);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.Write(b);
    });
    const ReadResult r = port->Read(buffer, 19);
    writer.join();
    EXPECT_EQ(r.status, ReadStatus::Complete);
    ASSERT_EQ(r.count, 19u);
    for (int i = 0; i < 19; ++i)
        EXPECT_EQ(buffer[i], i + 1);
}

TEST_F(OpenPty, ReadEndsAfterTheIntervalOfSilenceOnceBytesCame) {
    port->SetTimeouts({100, 3000, 1});
    ASSERT_TRUE(pty.Write(std::vector<std::uint8_t>{0xA5, 1, 2}));
    const auto start = Clock::now();
    const ReadResult r = port->Read(buffer, 19);
    const long long elapsed = MsSince(start);
    EXPECT_EQ(r.status, ReadStatus::TimedOut);
    EXPECT_EQ(r.count, 3u);
    EXPECT_GE(elapsed, 95);
    EXPECT_LT(elapsed, 2000) << "waited for the total time-out instead of the interval";
}

TEST_F(OpenPty, ReadEndsAtTheTotalTimeOutWhileBytesTrickle) {
    // 200 ms + 10 ms per byte for 20 bytes: 400 ms in all; a byte every 40 ms never lets the
    // 100 ms interval run out.
    port->SetTimeouts({100, 200, 10});
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 40 && !done; ++i) {
            const std::uint8_t b = static_cast<std::uint8_t>(i);
            pty.Write(&b, 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    });
    const auto start = Clock::now();
    const ReadResult r = port->Read(buffer, 20);
    const long long elapsed = MsSince(start);
    done = true;
    writer.join();
    EXPECT_EQ(r.status, ReadStatus::TimedOut);
    EXPECT_GE(elapsed, 395);
    EXPECT_LT(elapsed, 1200);
    EXPECT_GE(r.count, 5u);
    EXPECT_LT(r.count, 20u);
    for (std::size_t i = 0; i < r.count; ++i)
        EXPECT_EQ(buffer[i], i);
}

TEST_F(OpenPty, SilentLineWaitsForTheTotalTimeOutWithNothing) {
    port->SetTimeouts({50, 150, 5});
    const auto start = Clock::now();
    const ReadResult r = port->Read(buffer, 10);
    const long long elapsed = MsSince(start);
    EXPECT_EQ(r.status, ReadStatus::TimedOut);
    EXPECT_EQ(r.count, 0u);
    EXPECT_GE(elapsed, 195); // 150 + 10 * 5; the interval rule needs a first byte
}

TEST_F(OpenPty, CancelEndsABlockedReadAtOnceAndStaysUntilCleared) {
    // Default time-outs: without the cancel this read would wait 8 seconds.
    std::thread canceller([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        port->Cancel();
    });
    const auto start = Clock::now();
    const ReadResult r = port->Read(buffer, 1);
    const long long elapsed = MsSince(start);
    canceller.join();
    EXPECT_EQ(r.status, ReadStatus::Cancelled);
    EXPECT_LT(elapsed, 1000);

    EXPECT_EQ(port->Read(buffer, 1).status, ReadStatus::Cancelled);
    port->ClearCancel();
    port->SetTimeouts({20, 20, 0});
    EXPECT_EQ(port->Read(buffer, 1).status, ReadStatus::TimedOut);
    ASSERT_TRUE(pty.Write(std::vector<std::uint8_t>{42}));
    const ReadResult after = port->Read(buffer, 1);
    EXPECT_EQ(after.status, ReadStatus::Complete);
    EXPECT_EQ(buffer[0], 42);
}

TEST_F(OpenPty, HangUpFailsTheReadWithoutWaiting) {
    std::thread unplug([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty.CloseMaster();
    });
    const auto start = Clock::now();
    const ReadResult r = port->Read(buffer, 19);
    unplug.join();
    EXPECT_EQ(r.status, ReadStatus::Failed);
    EXPECT_LT(MsSince(start), 1000);
    // And every later read fails at once too.
    const auto again = Clock::now();
    EXPECT_EQ(port->Read(buffer, 1).status, ReadStatus::Failed);
    EXPECT_LT(MsSince(again), 100);
}

TEST(SerialPort, OpenDiscardsWhatTheDriverHeldBefore) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    // Another holder of the slave lets bytes queue up before the port is opened.
    const QByteArray path = pty.SlavePath().toLocal8Bit();
    const int holder = ::open(path.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    ASSERT_TRUE(pty.Write(std::vector<std::uint8_t>{9, 9, 9}));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    auto port = CreateSerialPort();
    ASSERT_TRUE(port->Open(pty.SlavePath(), nullptr));
    ASSERT_TRUE(pty.Write(std::vector<std::uint8_t>{7}));
    port->SetTimeouts({50, 200, 0});
    std::uint8_t buffer[4] = {};
    const ReadResult r = port->Read(buffer, 4);
    ::close(holder);
    ASSERT_EQ(r.count, 1u);
    EXPECT_EQ(buffer[0], 7);
}

} // namespace
} // namespace zelvox
