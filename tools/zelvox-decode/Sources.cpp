// The two sources zelvox-decode reads: a byte stream (a capture file or standard input) and a
// live serial port, paced like the program's sampling when a rate is set.
#include "DecodeOptions.h"
#include "LineWriter.h"
#include "Publishing.h"
#include "decode/Decoder.h"
#include "decode/Frame.h"
#include "journal/AlarmKeeper.h"
#include "journal/RecordKeeper.h"
#include "link/AcquisitionCore.h"
#include "link/SerialPort.h"
#include "link/StopSignals.h"

#include <QString>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace zelvox {

namespace {

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

// Live decoding from a serial port through the acquisition core the window reads with (the same
// framing, pacing, silence and reopening): one line per dispatched reading, or with no rate one
// per accepted frame. When the port fails it is reopened every second (or, with --once, the run
// ends with status 1); a port not there at the start is waited for the same way.
class LiveLogger {
public:
    LiveLogger(const DecodeOptions& options, int wakeFd)
        : options_(options), wakeFd_(wakeFd),
          device_(PortDevicePath(QString::fromLocal8Bit(options.path.c_str())).toLocal8Bit().toStdString()),
          core_(history_), out_(options.format) {
        // The keeper's notices go to standard error after the program's name.
        keeper_.OnNotice([](const QString& text) {
            std::fprintf(stderr, "zelvox-decode: %s\n", text.toLocal8Bit().constData());
        });
    }

    int Run() {
        if (options_.publishing.Requested()) {
            std::string error;
            if (!publishing_.Start(options_.publishing, device_, keeper_, &error)) {
                SayStartFailure(error);
                return 2;
            }
        }
        if (!options_.rules.empty())
            WatchRules();
        out_.onLine = [this](const DispatchedReading& d) { keeper_.Keep(d); };
        AcquisitionCore::Options link;
        link.samplingRate = options_.rate;
        link.mirrorFrames = false;
        link.waitForPort = !options_.once;
        const StartResult started = core_.Start(options_.path, link);
        if (started.status != StartStatus::Started) {
            std::fprintf(stderr, "zelvox-decode: cannot open port %s: %s\n", device_.c_str(),
                         started.status == StartStatus::OpenPortFailed
                             ? started.reason.toLocal8Bit().constData()
                             : "no thread for its reader");
            if (started.errorCode == EACCES || started.errorCode == EPERM)
                std::fputs(PortPermissionHint(), stderr);
            publishing_.Stop();
            return 1;
        }
        int status = out_.Start() ? 0 : -1;
        while (status == 0 && !Interrupted()) {
            pollfd fds[3] = {{core_.WakeFd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}, {-1, POLLIN, 0}};
            if (alarms_)
                fds[2].fd = alarms_->WakeFd();
            if (::poll(fds, 3, -1) < 0 && errno != EINTR)
                break;
            // The alarms first: a command waits for nothing else.
            if (alarms_)
                alarms_->Deliver();
            core_.Deliver([&](const AcquisitionCore::Event& event) {
                if (status == 0)
                    status = Take(event);
            });
        }
        core_.Stop(); // also clears the port's exclusive mode
        // A firing rule is said as ended, on the broker too, before the publisher goes.
        if (alarms_)
            alarms_->End();
        publishing_.Stop();
        if (alarms_)
            alarms_->Finish();
        return status < 0 ? OutputFailed(out_) : status;
    }

private:
    // The rules on the reader's side of the record keeper, their events on standard error, in
    // the events file beside the journal and on the broker (with --mqtt), and to --alarm-exec.
    void WatchRules() {
        alarms_ = std::make_unique<AlarmKeeper>(options_.rules, device_);
        alarms_->OnSeen([](const AlarmRule& rule, const AlarmEvent& e) {
            std::fputs(AlarmLine("zelvox-decode", rule, e).c_str(), stderr);
        });
        alarms_->OnNotice(
            [](const std::string& text) { std::fprintf(stderr, "zelvox-decode: %s\n", text.c_str()); });
        alarms_->RunCommand(options_.alarms.exec);
        if (publishing_.Sender()) {
            alarms_->KeepJournal(publishing_.JournalKept());
            alarms_->KeepPublisher(publishing_.Sender(), publishing_.Options());
        }
        keeper_.KeepRules([this](const DispatchedReading& d) { alarms_->Kept(d); });
        alarms_->Begin(0);
        core_.SetReaderTap(alarms_.get());
    }

    // One hand-off of the reader's: 0 to go on, 1 to end (--once and the port went away), -1
    // after an output error.
    int Take(const AcquisitionCore::Event& event) {
        const char* port = device_.c_str();
        switch (event.kind) {
        case AcquisitionCore::Event::kFrame:
            return 0;
        case AcquisitionCore::Event::kDispatch: {
            // Paced: the newest reading when its period is up; unpaced: the frame's own.
            const Reading reading = options_.rate == 0 ? event.reading : core_.CurrentReading();
            const bool written = out_.Emit(reading);
            history_.readingPending.store(0);
            return written ? 0 : -1;
        }
        case AcquisitionCore::Event::kLink:
            break;
        }
        switch (event.link) {
        case LinkEvent::Silent:
            std::fprintf(stderr,
                         "zelvox-decode: no data from %s for %lld s \u2014 check: meter on, serial output "
                         "enabled, right port\n",
                         port, static_cast<long long>(AcquisitionCore::kSilenceLimit.count() / 1000));
            break;
        case LinkEvent::Heard:
            std::fprintf(stderr, "zelvox-decode: data from %s again\n", port);
            break;
        case LinkEvent::Lost:
            if (IsUnplugged(event.error))
                std::fprintf(stderr, "zelvox-decode: port %s: hung up (device unplugged?)\n", port);
            else
                std::fprintf(stderr, "zelvox-decode: port %s: %s\n", port, std::strerror(event.error));
            if (options_.once)
                return 1;
            std::fprintf(stderr, "zelvox-decode: reopening %s every second\n", port);
            break;
        case LinkEvent::Absent:
            std::fprintf(stderr, "zelvox-decode: waiting for %s to appear (trying every second)\n", port);
            break;
        case LinkEvent::Back:
            std::fprintf(stderr, "zelvox-decode: port %s is back\n", port);
            break;
        }
        return 0;
    }

    const DecodeOptions& options_;
    const int wakeFd_;
    const std::string device_;
    ReadingHistory history_; // the pacing's pending mark; the logger keeps no graph
    // The core's reader calls it: it goes after the core has joined its reader.
    std::unique_ptr<AlarmKeeper> alarms_;
    AcquisitionCore core_;
    RecordKeeper keeper_;
    DecodePublishing publishing_;
    LineWriter out_;
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
