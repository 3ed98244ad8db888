// The two sources zelvox-decode reads: a byte stream (a capture file or standard input) and a
// live serial port, paced like the program's sampling when a rate is set.
#include "DecodeOptions.h"
#include "LineWriter.h"
#include "Publishing.h"
#include "decode/Decoder.h"
#include "decode/Frame.h"
#include "link/SerialPort.h"
#include "link/Settings.h"
#include "link/StopSignals.h"

#include <QString>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <poll.h>

namespace zelvox {

namespace {

using Clock = std::chrono::steady_clock;

// The ending signals (the program's own StopSignals): each stops the work at the next line
// boundary, the line being written finished first (LineWriter goes on after an interrupted or
// partial write). SIGPIPE then shows as EPIPE on the next write.
bool Interrupted() {
    return StopSignals::Received();
}

// Why a port cannot be opened for lack of permission, and what to do: under systemd (which sets
// INVOCATION_ID for its services) the unit's device policy and groups decide, not the user's.
const char* PortPermissionHint() {
    if (std::getenv("INVOCATION_ID"))
        return "zelvox-decode: under systemd the unit decides: allow the device (DeviceAllow=) and "
               "give the service the port's group (SupplementaryGroups=dialout)\n";
    return "zelvox-decode: serial ports belong to the group 'dialout': "
           "sudo usermod -aG dialout $USER, then log in again\n";
}

// Live decoding from a serial port, with the program's pacing when a rate is set: the first
// reading after an emitted one marks a reading pending; one sampling period later the newest
// reading is emitted. When the port fails it is reopened every second (or, with --once, the
// run ends with status 1).
class LiveLogger {
public:
    LiveLogger(const DecodeOptions& options, int wakeFd)
        : options_(options), wakeFd_(wakeFd), portName_(QString::fromLocal8Bit(options.path.c_str())),
          device_(PortDevicePath(portName_).toLocal8Bit().toStdString()), port_(CreateSerialPort()),
          out_(options.format) {}

    int Run() {
        if (options_.publishing.Requested()) {
            std::string error;
            if (!publishing_.Start(options_.publishing, device_, &error)) {
                SayStartFailure(error);
                return 2;
            }
            out_.onLine = [this](const DispatchedReading& d) { publishing_.Record(d); };
        }
        PortError openError;
        if (!port_->Open(portName_, &openError)) {
            std::fprintf(stderr, "zelvox-decode: cannot open port %s: %s\n", device_.c_str(),
                         openError.reason.toLocal8Bit().constData());
            if (openError.code == EACCES || openError.code == EPERM)
                std::fputs(PortPermissionHint(), stderr);
            return 1;
        }
        StopSignals::CancelOnStop(port_.get());
        if (Interrupted()) // a signal before the handler could reach the port
            port_->Cancel();
        framer_.Reset();
        int status = out_.Start() ? 0 : -1;
        while (status == 0 && !Interrupted()) {
            if (port_->IsOpen())
                status = ReadOnce();
            else
                status = WaitAndReopen();
        }
        StopSignals::CancelOnStop(nullptr);
        port_->Close(); // also clears the port's exclusive mode
        publishing_.Stop();
        return status < 0 ? OutputFailed(out_) : status;
    }

private:
    // Milliseconds until the pending reading is due, or -1 when none is pending.
    long long MsUntilDue() const {
        if (!pending_)
            return -1;
        return std::max<long long>(0,
                                   std::chrono::ceil<std::chrono::milliseconds>(due_ - Clock::now()).count());
    }

    // Emits the pending reading when it is due. Returns -1 after an output error.
    int EmitIfDue() {
        if (!pending_ || Clock::now() < due_)
            return 0;
        pending_ = false;
        return out_.Emit(current_) ? 0 : -1;
    }

    void OnReading(const Reading& r) {
        current_ = r;
        if (options_.rate == 0) {
            pending_ = true;
            due_ = Clock::now();
        } else if (!pending_) {
            pending_ = true;
            due_ = Clock::now() + SamplingPeriod(options_.rate);
        }
    }

    int ReadOnce() {
        // The read waits at most until the pending reading is due (or a second, to keep the
        // time-outs short enough to notice nothing at all).
        const long long wait = pending_ ? MsUntilDue() : 1000;
        if (wait > 0) {
            const int ms = static_cast<int>(wait);
            port_->SetTimeouts({ms, ms, 0});
            std::uint8_t buf[kFrameSize];
            const ReadResult r = port_->Read(buf, framer_.BytesWanted());
            framer_.Feed(buf, r.count, [&](const Frame& frame) {
                OnReading(DecodeFrame(frame));
                if (options_.rate == 0)
                    EmitIfDueOrRemember();
            });
            if (outputFailed_)
                return -1;
            if (r.status == ReadStatus::Failed)
                return PortLost(r.error);
        }
        return EmitIfDue();
    }

    void EmitIfDueOrRemember() {
        if (EmitIfDue() < 0)
            outputFailed_ = true;
    }

    int PortLost(int error) {
        // A device that went away ends reads with end of file or, as often, EIO: both are an
        // unplugged adapter, and are said so.
        if (error == 0 || error == EIO)
            std::fprintf(stderr, "zelvox-decode: port %s: hung up (device unplugged?)\n", device_.c_str());
        else
            std::fprintf(stderr, "zelvox-decode: port %s: %s\n", device_.c_str(), std::strerror(error));
        port_->Close();
        framer_.Reset();
        if (options_.once)
            return 1;
        std::fprintf(stderr, "zelvox-decode: reopening %s every second\n", device_.c_str());
        nextTry_ = Clock::now() + std::chrono::seconds(1);
        return 0;
    }

    // The port is closed: sleep until the next try (or until a pending reading is due), then try.
    int WaitAndReopen() {
        long long wait = std::max<long long>(
            0, std::chrono::ceil<std::chrono::milliseconds>(nextTry_ - Clock::now()).count());
        if (pending_)
            wait = std::min(wait, MsUntilDue());
        if (wait > 0) {
            pollfd fd{wakeFd_, POLLIN, 0};
            ::poll(&fd, 1, static_cast<int>(wait));
        }
        if (Interrupted())
            return 0;
        if (EmitIfDue() < 0)
            return -1;
        if (Clock::now() < nextTry_)
            return 0;
        nextTry_ = Clock::now() + std::chrono::seconds(1);
        if (port_->Open(portName_, nullptr)) {
            std::fprintf(stderr, "zelvox-decode: port %s is back\n", device_.c_str());
            if (Interrupted())
                port_->Cancel();
        }
        return 0;
    }

    const DecodeOptions& options_;
    const int wakeFd_;
    const QString portName_;
    const std::string device_;
    std::unique_ptr<SerialPort> port_;
    DecodePublishing publishing_;
    LineWriter out_;
    Framer framer_;
    Reading current_{};
    bool pending_ = false;
    Clock::time_point due_{};
    Clock::time_point nextTry_{};
    bool outputFailed_ = false;
};

} // namespace

int RunStream(const DecodeOptions& options, int wakeFd) {
    const bool useStdin = options.path == "-";
    const int fd = useStdin ? STDIN_FILENO : ::open(options.path.c_str(), O_RDONLY | O_CLOEXEC);
    const std::string name = useStdin ? std::string("standard input") : options.path;
    if (fd < 0) {
        std::fprintf(stderr, "zelvox-decode: cannot open %s: %s\n", name.c_str(), std::strerror(errno));
        return 1;
    }
    LineWriter out(options.format);
    bool outputOk = out.Start();
    Framer framer;
    framer.Reset();
    std::uint8_t buf[4096];
    int status = 0;
    while (outputOk && !Interrupted()) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        if (Interrupted())
            break;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "zelvox-decode: cannot read %s: %s\n", name.c_str(), std::strerror(errno));
            status = 1;
            break;
        }
        framer.Feed(buf, static_cast<std::size_t>(n), [&](const Frame& frame) {
            if (outputOk)
                outputOk = out.Emit(DecodeFrame(frame));
        });
    }
    if (!useStdin)
        ::close(fd);
    return outputOk ? status : OutputFailed(out);
}

int RunPort(const DecodeOptions& options, int wakeFd) {
    return LiveLogger(options, wakeFd).Run();
}

} // namespace zelvox
