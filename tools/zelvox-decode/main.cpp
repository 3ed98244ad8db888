// zelvox-decode: a headless decoder and logger for the meter's byte stream. Reads a capture file,
// standard input or a serial port, checks and decodes every frame, and writes one line per
// accepted frame (or, with --rate, one per sampling period) as text, CSV or JSON lines.
//
// The text format is five tab-separated fields:
//
//   value<TAB>pointPosition<TAB>functionCode<TAB>function label<TAB>table Value text
//
// The value is printed with "%.17g" so that it can be compared bit for bit.

#include "Publishing.h"
#include "decode/Decoder.h"
#include "decode/Format.h"
#include "decode/Frame.h"
#include "decode/Labels.h"
#include "decode/StandardStreams.h"
#include "link/SerialPort.h"
#include "link/Settings.h"
#include "link/StopSignals.h"
#include "record/RowCodec.h"

#include <QString>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace zelvox;
using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "Usage: zelvox-decode [--format F] FILE\n"
    "  or:  zelvox-decode [--format F] -\n"
    "  or:  zelvox-decode [--format F] [--rate N] [--once] --port NAME\n"
    "\n"
    "Decodes a raw byte stream from a Zelvox meter (a capture file, standard input\n"
    "when FILE is '-', or a serial port) and writes one line per accepted frame.\n"
    "\n"
    "Options:\n"
    "  --port NAME    decode live from serial port NAME (ttyUSB0 for /dev/ttyUSB0, or\n"
    "                 an absolute path) at 2400 baud 8N1 until SIGINT, SIGTERM, SIGHUP,\n"
    "                 SIGQUIT or SIGPIPE; when the port goes away (adapter unplugged)\n"
    "                 it is reopened every second until it is back\n"
    "  --once         with --port: exit with status 1 when the port goes away\n"
    "  --rate N       with --port: N readings per minute (1 to 120), paced like the\n"
    "                 program's sampling; without it, every accepted frame\n"
    "  --format F     text (the default), csv or jsonl, as below\n";

constexpr const char* kUsageEnd =
    "  --help         show this text and exit\n"
    "\n"
    "Formats:\n"
    "  text           value (%.17g), point position, function code, function label\n"
    "                 and table text, tab-separated\n"
    "  csv            a header line, then date-time (ISO 8601), Index, Value, Type,\n"
    "                 Time as the readings table shows them, and the value at full\n"
    "                 precision (empty for an overload)\n"
    "  jsonl          one JSON object a line: time, value (null for an overload),\n"
    "                 overload (0, 1 or -1), text, function, unit\n"
    "\n"
    "Every line is written as soon as it is complete.\n";

enum class Format { Text, Csv, Jsonl };

// What the command line asks for.
struct Options {
    enum class Mode { Help, Stream, Port } mode = Mode::Help;
    std::string path; // "-" for standard input; the port name in Port mode
    Format format = Format::Text;
    int rate = 0; // readings per minute; 0: every accepted frame
    bool once = false;
    PublishingOptions publishing;
};

void PrintUsage(std::FILE* out) {
    std::fputs(kUsage, out);
    std::fputs(kPublishingUsage, out);
    std::fputs(kUsageEnd, out);
}

bool ParseArgs(int argc, char** argv, Options& options, std::string& error) {
    const std::vector<std::string> args(argv, argv + argc);
    bool haveSource = false;
    bool portMode = false;
    const auto value = [&](int& i, const std::string& arg, std::string& out) {
        if (i + 1 >= argc || argv[i + 1][0] == '\0') {
            error = arg + " needs a value";
            return false;
        }
        out = argv[++i];
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string v;
        if (arg == "--help" || arg == "-h") {
            options.mode = Options::Mode::Help;
            return true;
        }
        if (arg == "--once") {
            options.once = true;
            continue;
        }
        std::size_t at = static_cast<std::size_t>(i);
        const int took = TakePublishingOption(args, at, options.publishing, &error);
        i = static_cast<int>(at);
        if (took != 0) {
            if (took < 0)
                return false;
            continue;
        }
        if (arg == "--format") {
            if (!value(i, arg, v))
                return false;
            if (v == "text")
                options.format = Format::Text;
            else if (v == "csv")
                options.format = Format::Csv;
            else if (v == "jsonl")
                options.format = Format::Jsonl;
            else {
                error = "unknown format '" + v + "' (text, csv or jsonl)";
                return false;
            }
            continue;
        }
        if (arg == "--rate") {
            if (!value(i, arg, v))
                return false;
            char* end = nullptr;
            const long rate = std::strtol(v.c_str(), &end, 10);
            if (*end != '\0' || rate < kMinSamplingRate || rate > kMaxSamplingRate) {
                error = "--rate takes 1 to 120 readings per minute";
                return false;
            }
            options.rate = static_cast<int>(rate);
            continue;
        }
        if (arg == "--port") {
            if (!value(i, arg, v))
                return false;
            portMode = true;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            error = "unknown option '" + arg + "'";
            return false;
        } else {
            if (arg == "--" && ++i >= argc)
                break;
            v = argv[i];
        }
        if (haveSource) {
            error = "more than one input given";
            return false;
        }
        options.mode = portMode ? Options::Mode::Port : Options::Mode::Stream;
        options.path = v;
        haveSource = true;
    }
    if (!haveSource) {
        error = "no input given";
        return false;
    }
    if (options.mode != Options::Mode::Port && (options.rate != 0 || options.once)) {
        error = "--rate and --once need --port";
        return false;
    }
    if (options.publishing.AnyCompanion() && !options.publishing.Requested()) {
        error = "the --mqtt-... and --journal-dir options need --mqtt";
        return false;
    }
    if (options.publishing.Requested() && options.mode != Options::Mode::Port) {
        error = "--mqtt needs --port";
        return false;
    }
    return true;
}

// The ending signals (the program's own StopSignals): each stops the work at the next line
// boundary, the line being written finished first (LineWriter goes on after an interrupted or
// partial write). SIGPIPE then shows as EPIPE on the next write. Blocking waits poll g_wakeFd.
int g_wakeFd = -1;

bool Interrupted() {
    return StopSignals::Received();
}

// Writes lines to standard output, each with as few write() calls as it takes (one, for any
// line a pipe can take atomically).
class LineWriter {
public:
    explicit LineWriter(Format format) : format_(format) {}

    // Called with each line's record before the line is written.
    std::function<void(const DispatchedReading&)> onLine;

    // False once output is impossible (closed pipe, full disk); error() says why.
    bool Emit(const Reading& r) {
        const DispatchedReading dispatched = MakeDispatchedReading(1, index_, WallTimeNow(), r);
        if (onLine)
            onLine(dispatched);
        std::string line;
        switch (format_) {
        case Format::Text: {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.17g\t%u\t%u\t", r.value, unsigned(r.pointPosition),
                          unsigned(r.functionCode));
            line = buf;
            line += r.functionCode < kFunctionCount ? ToUtf8(functionLabels[r.functionCode]) : std::string();
            line += '\t';
            line += ToUtf8(FormatTableValue(r.value, r.pointPosition));
            line += '\n';
            break;
        }
        case Format::Csv: {
            if (!headerDone_) {
                headerDone_ = true;
                if (!Write(CsvHeader()))
                    return false;
            }
            line = CsvLine(dispatched);
            break;
        }
        case Format::Jsonl:
            line = JsonLine(dispatched.at, r);
            break;
        }
        ++index_;
        return Write(line);
    }

    // The CSV header comes first even when no reading ever does; output appended to a file
    // that already holds lines (>> log.csv) gets none, so the file keeps a single header.
    bool Start() {
        if (format_ != Format::Csv)
            return true;
        struct stat st {};
        const bool appending =
            (::fcntl(STDOUT_FILENO, F_GETFL) & O_APPEND) != 0 || ::lseek(STDOUT_FILENO, 0, SEEK_CUR) > 0;
        if (::fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && appending) {
            headerDone_ = true;
            return true;
        }
        headerDone_ = true;
        return Write(CsvHeader());
    }

    int error() const { return error_; }

private:
    bool Write(const std::string& s) { return WriteAll(STDOUT_FILENO, s, &error_); }

    Format format_;
    int index_ = 0;
    bool headerDone_ = false;
    int error_ = 0;
};

// The exit status after an output error: a reader that went away (EPIPE) is an ordinary end.
int OutputFailed(const LineWriter& out) {
    if (out.error() == EPIPE)
        return 0;
    std::fprintf(stderr, "zelvox-decode: cannot write output: %s\n", std::strerror(out.error()));
    return 1;
}

int RunStream(const Options& options) {
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
        pollfd fds[2] = {{fd, POLLIN, 0}, {g_wakeFd, POLLIN, 0}};
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

// Live decoding from a serial port, with the program's pacing when a rate is set: the first
// reading after an emitted one marks a reading pending; one sampling period later the newest
// reading is emitted. When the port fails it is reopened every second (or, with --once, the
// run ends with status 1).
class LiveLogger {
public:
    explicit LiveLogger(const Options& options)
        : options_(options), portName_(QString::fromLocal8Bit(options.path.c_str())),
          device_(PortDevicePath(portName_).toLocal8Bit().toStdString()), port_(CreateSerialPort()),
          out_(options.format) {}

    int Run() {
        if (options_.publishing.Requested()) {
            std::string error;
            // A refused password ends the run the way a signal does, with status 2 after it.
            if (!publishing_.Start(
                    options_.publishing, device_, [] { StopSignals::RequestStop(); }, &error)) {
                std::fprintf(stderr, "zelvox-decode: %s\n", error.c_str());
                return 2;
            }
            out_.onLine = [this](const DispatchedReading& d) { publishing_.Record(d); };
        }
        PortError openError;
        if (!port_->Open(portName_, &openError)) {
            std::fprintf(stderr, "zelvox-decode: cannot open port %s: %s\n", device_.c_str(),
                         openError.reason.toLocal8Bit().constData());
            if (openError.code == EACCES || openError.code == EPERM)
                std::fputs("zelvox-decode: serial ports belong to the group 'dialout': "
                           "sudo usermod -aG dialout $USER, then log in again\n",
                           stderr);
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
        if (const std::string refusal = publishing_.Refusal(); !refusal.empty()) {
            std::fprintf(stderr, "zelvox-decode: %s\n", refusal.c_str());
            return 2;
        }
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
            pollfd fd{g_wakeFd, POLLIN, 0};
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

    const Options& options_;
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

int main(int argc, char** argv) {
    const zelvox::ClosedStreams closed = zelvox::OpenStandardStreams();
    Options options;
    std::string error;
    if (!ParseArgs(argc, argv, options, error)) {
        std::fprintf(stderr, "zelvox-decode: %s\n", error.c_str());
        PrintUsage(stderr);
        return 2;
    }
    if (closed.input && options.mode == Options::Mode::Stream && options.path == "-") {
        std::fprintf(stderr, "zelvox-decode: standard input is closed\n");
        return 2;
    }
    const StopSignals stopSignals({SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}, /*secondEndsAtOnce=*/false);
    g_wakeFd = stopSignals.WakeFd();
    switch (options.mode) {
    case Options::Mode::Help:
        PrintUsage(stdout);
        return 0;
    case Options::Mode::Stream:
        return RunStream(options);
    case Options::Mode::Port:
        return LiveLogger(options).Run();
    }
    return 1;
}
