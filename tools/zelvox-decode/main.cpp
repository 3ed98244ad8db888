// zelvox-decode: a headless decoder for the meter's byte stream. Reads a capture file,
// standard input or a serial port, checks and decodes every frame, and prints one line per
// accepted frame:
//
//   value<TAB>pointPosition<TAB>functionCode<TAB>function label<TAB>table Value text
//
// The value is printed with "%.17g" so that it can be compared bit for bit.

#include "decode/Decoder.h"
#include "decode/Format.h"
#include "decode/Frame.h"
#include "decode/Labels.h"
#include "link/SerialPort.h"

#include <QString>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

using namespace zelvox;

constexpr const char* kUsage =
    "Usage: zelvox-decode FILE\n"
    "       zelvox-decode -\n"
    "       zelvox-decode --port NAME\n"
    "\n"
    "Decodes a raw byte stream from a Zelvox meter (a capture file, or standard\n"
    "input when FILE is '-') and prints one line per accepted frame with five\n"
    "tab-separated fields:\n"
    "  value (%.17g), point position, function code, function label, table text\n"
    "\n"
    "Options:\n"
    "  --port NAME  decode live from serial port NAME (ttyUSB0 for /dev/ttyUSB0, or\n"
    "               an absolute path) at 2400 baud 8N1 until SIGINT or SIGTERM;\n"
    "               exits with status 1 if the port goes away (adapter unplugged)\n"
    "  --help       show this text and exit\n";

// What the command line asks for.
struct Options {
    enum class Mode { Help, Stream, Port } mode = Mode::Help;
    std::string path; // "-" for standard input; the port name in Port mode
};

bool ParseArgs(int argc, char** argv, Options& options, std::string& error) {
    bool haveSource = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.mode = Options::Mode::Help;
            return true;
        }
        if (arg == "--port") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                error = "--port needs a port name";
                return false;
            }
            if (haveSource) {
                error = "more than one input given";
                return false;
            }
            options.mode = Options::Mode::Port;
            options.path = argv[++i];
            haveSource = true;
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            error = "unknown option '" + arg + "'";
            return false;
        }
        if (arg == "--") {
            if (++i >= argc)
                break;
        }
        if (haveSource) {
            error = "more than one input given";
            return false;
        }
        options.mode = Options::Mode::Stream;
        options.path = argv[i];
        haveSource = true;
    }
    if (!haveSource) {
        error = "no input given";
        return false;
    }
    return true;
}

// Turns accepted frames into output lines.
class FramePrinter {
public:
    explicit FramePrinter(std::FILE* out) : out_(out) {}

    void operator()(const Frame& frame) {
        const Reading r = DecodeFrame(frame);
        const std::string label = ToUtf8(functionLabels[r.functionCode]);
        const std::string text = ToUtf8(FormatTableValue(r.value, r.pointPosition));
        std::fprintf(out_, "%.17g\t%u\t%u\t%s\t%s\n", r.value, unsigned(r.pointPosition),
                     unsigned(r.functionCode), label.c_str(), text.c_str());
    }

private:
    std::FILE* out_;
};

// Feeds everything readable from fd through the framer. Returns false on a read error.
bool DecodeFd(int fd, FramePrinter& printer, std::string& error) {
    Framer framer;
    framer.Reset();
    std::uint8_t buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = std::strerror(errno);
            return false;
        }
        framer.Feed(buf, static_cast<std::size_t>(n), printer);
        std::fflush(stdout); // keep a pipe's reader up to date
    }
}

int RunStream(const std::string& path) {
    const bool useStdin = path == "-";
    const int fd = useStdin ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const std::string name = useStdin ? std::string("standard input") : path;
    if (fd < 0) {
        std::fprintf(stderr, "zelvox-decode: cannot open %s: %s\n", name.c_str(), std::strerror(errno));
        return 1;
    }
    FramePrinter printer(stdout);
    std::string error;
    const bool ok = DecodeFd(fd, printer, error);
    if (!useStdin)
        ::close(fd);
    if (!ok) {
        std::fprintf(stderr, "zelvox-decode: cannot read %s: %s\n", name.c_str(), error.c_str());
        return 1;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "zelvox-decode: cannot write output: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}

// The open port, for the signal handler: cancelling a read is async-signal-safe.
SerialPort* g_livePort = nullptr;
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) {
    g_interrupted = 1;
    if (g_livePort)
        g_livePort->Cancel();
}

// Decodes live from a serial port until SIGINT/SIGTERM (status 0) or until the port fails.
int RunPort(const std::string& name) {
    const QString portName = QString::fromLocal8Bit(name.c_str());
    const std::string device = PortDevicePath(portName).toLocal8Bit().toStdString();
    std::unique_ptr<SerialPort> port = CreateSerialPort();
    PortError openError;
    if (!port->Open(portName, &openError)) {
        std::fprintf(stderr, "zelvox-decode: cannot open port %s: %s\n", device.c_str(),
                     openError.reason.toLocal8Bit().constData());
        if (openError.code == EACCES || openError.code == EPERM)
            std::fputs("zelvox-decode: serial ports belong to the group 'dialout': "
                       "sudo usermod -aG dialout $USER, then log in again\n",
                       stderr);
        return 1;
    }
    g_livePort = port.get();
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    if (g_interrupted) // a signal before the handler could reach the port
        port->Cancel();

    FramePrinter printer(stdout);
    Framer framer;
    framer.Reset();
    int status = 0;
    while (!g_interrupted) {
        std::uint8_t buf[kFrameSize];
        const ReadResult r = port->Read(buf, framer.BytesWanted());
        if (framer.Feed(buf, r.count, printer) > 0)
            std::fflush(stdout);
        if (r.status == ReadStatus::Failed) {
            std::fprintf(stderr, "zelvox-decode: port %s: %s\n", device.c_str(),
                         r.error != 0 ? std::strerror(r.error) : "hung up (device unplugged?)");
            status = 1;
            break;
        }
    }
    g_livePort = nullptr;
    port->Close();
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "zelvox-decode: cannot write output: %s\n", std::strerror(errno));
        return 1;
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!ParseArgs(argc, argv, options, error)) {
        std::fprintf(stderr, "zelvox-decode: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    switch (options.mode) {
    case Options::Mode::Help:
        std::fputs(kUsage, stdout);
        return 0;
    case Options::Mode::Stream:
        return RunStream(options.path);
    case Options::Mode::Port:
        return RunPort(options.path);
    }
    return 1;
}
