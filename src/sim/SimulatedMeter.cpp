#include "sim/SimulatedMeter.h"

#include "sim/DemoScenario.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace zelvox {

namespace {

using Clock = std::chrono::steady_clock;

// One byte on the line: start bit, 8 data bits, stop bit at 2400 baud.
constexpr double kByteSeconds = 10.0 / 2400.0;

QString SystemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

SimulatedMeter::SimulatedMeter() : SimulatedMeter(SimulatedMeterOptions{}) {}

SimulatedMeter::SimulatedMeter(SimulatedMeterOptions options) : options_(std::move(options)) {}

SimulatedMeter::~SimulatedMeter() {
    Stop();
}

bool SimulatedMeter::Start(QString* error) {
    Stop();
    const auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        if (masterFd_ >= 0)
            ::close(masterFd_);
        masterFd_ = -1;
        slavePath_.clear();
        return false;
    };
    std::vector<ScenarioStep> steps;
    QString why;
    if (options_.displaysFile.isEmpty())
        steps = DemoScenario(options_.seed);
    else if (!LoadDisplaysFile(options_.displaysFile, &steps, &why))
        return fail(why);
    if (!ScenarioFrames(steps, &frames_, &why))
        return fail(why);

    // Raw from the start, so nothing the line discipline does can change a byte.
    termios raw{};
    ::cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&raw, B2400);
    ::cfsetospeed(&raw, B2400);
    int slaveFd = -1;
    char name[256] = {};
    if (::openpty(&masterFd_, &slaveFd, name, &raw, nullptr) != 0)
        return fail(SystemError("openpty"));
    // Nobody holds the slave open. What is written before a program opens it piles up in the
    // pseudo-terminal until it is full (later bytes are lost); opening the port discards it.
    ::close(slaveFd);
    ::fcntl(masterFd_, F_SETFL, ::fcntl(masterFd_, F_GETFL) | O_NONBLOCK);
    ::fcntl(masterFd_, F_SETFD, FD_CLOEXEC);
    slavePath_ = QString::fromLocal8Bit(name);

    if (!options_.linkPath.isEmpty()) {
        const QFileInfo existing(options_.linkPath);
        if (existing.isSymLink())
            QFile::remove(options_.linkPath);
        else if (existing.exists())
            return fail(QStringLiteral("%1 exists and is not a symbolic link").arg(options_.linkPath));
        if (::symlink(name, QFile::encodeName(options_.linkPath).constData()) != 0)
            return fail(SystemError("symlink"));
        linkMade_ = true;
    }

    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
        finished_ = false;
    }
    framesSent_.store(0);
    writer_ = std::thread(&SimulatedMeter::WriterBody, this);
    return true;
}

void SimulatedMeter::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (writer_.joinable())
        writer_.join();
    if (masterFd_ >= 0) {
        ::close(masterFd_);
        masterFd_ = -1;
    }
    if (linkMade_) {
        if (QFileInfo(options_.linkPath).symLinkTarget() == slavePath_)
            QFile::remove(options_.linkPath);
        linkMade_ = false;
    }
}

bool SimulatedMeter::Running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !finished_ && !stopping_;
}

void SimulatedMeter::WaitFinished() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return finished_ || stopping_; });
}

void SimulatedMeter::WriteAll(const std::uint8_t* data, std::size_t n) {
    // Never blocks: what the pseudo-terminal cannot take now is lost, as on a real line.
    while (n > 0) {
        const ssize_t written = ::write(masterFd_, data, n);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        n -= static_cast<std::size_t>(written);
    }
}

void SimulatedMeter::WriterBody() {
    ::pthread_setname_np(::pthread_self(), "zelvox-meter");
    std::uint32_t noise = options_.seed * 2654435761u + 1u;
    const auto random = [&noise] {
        noise ^= noise << 13;
        noise ^= noise >> 17;
        noise ^= noise << 5;
        return noise;
    };
    const double pace = options_.pace > 0 ? options_.pace : 1.0;
    if (options_.waitForListener && !WaitForListener())
        return Finish();
    Clock::time_point next = Clock::now();
    std::size_t index = 0;
    long long sent = 0;
    std::vector<std::uint8_t> bytes;
    for (;;) {
        bytes.clear();
        if (options_.strayEvery > 0 && sent % options_.strayEvery == options_.strayEvery - 1) {
            const std::uint32_t count = 1 + random() % 8;
            for (std::uint32_t i = 0; i < count; ++i) {
                auto b = static_cast<std::uint8_t>(random());
                bytes.push_back(b == kStartByte ? 0x5A : b);
            }
        }
        Frame frame = frames_[index];
        if (options_.corruptEvery > 0 && sent % options_.corruptEvery == options_.corruptEvery - 1) {
            if ((sent / options_.corruptEvery) % 2 == 0) {
                frame[19] = static_cast<std::uint8_t>(frame[19] + 1); // checksum off by one
            } else {
                const std::size_t k = 1 + random() % 18;
                frame[k] |= 0x10;                                        // a nibble byte out of range...
                frame[19] = static_cast<std::uint8_t>(frame[19] + 0x10); // ...with a matching sum
            }
        }
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        // The bytes take their time on the line, the last frame's too, so that a reader has
        // them before the meter is done.
        const auto lineTime = [&](std::size_t count) {
            return std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(kByteSeconds * static_cast<double>(count) / pace));
        };
        bool stopped = false;
        if (options_.bytewise) {
            const Clock::time_point frameStart = next;
            for (std::size_t i = 0; i < bytes.size() && !stopped; ++i) {
                WriteAll(&bytes[i], 1);
                next = frameStart + lineTime(i + 1);
                std::unique_lock<std::mutex> lock(mutex_);
                stopped = wake_.wait_until(lock, next, [this] { return stopping_; });
            }
        } else {
            WriteAll(bytes.data(), bytes.size());
            next += lineTime(bytes.size());
        }
        if (stopped)
            break;
        framesSent_.store(++sent);
        index = (index + 1) % frames_.size();
        std::unique_lock<std::mutex> lock(mutex_);
        if (wake_.wait_until(lock, next, [this] { return stopping_; }))
            break;
        if (options_.frameLimit > 0 && sent >= options_.frameLimit)
            break;
    }
    Finish();
}

bool SimulatedMeter::WaitForListener() {
    // The master reports a hang-up for as long as nobody has the slave open.
    for (;;) {
        pollfd fd{masterFd_, POLLOUT, 0};
        std::unique_lock<std::mutex> lock(mutex_);
        if (::poll(&fd, 1, 0) >= 0 && !(fd.revents & POLLHUP)) {
            // Give the program a moment to set up the port: opening it discards what came before.
            return !wake_.wait_for(lock, std::chrono::milliseconds(50), [this] { return stopping_; });
        }
        if (wake_.wait_for(lock, std::chrono::milliseconds(10), [this] { return stopping_; }))
            return false;
    }
}

void SimulatedMeter::Finish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
    }
    wake_.notify_all();
}

} // namespace zelvox
