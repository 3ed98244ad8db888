// zelvox-decode: a headless decoder for the meter's byte stream. Reads a capture file or
// standard input, checks and decodes every frame, and prints one line per accepted frame:
//
//   value<TAB>pointPosition<TAB>functionCode<TAB>function label<TAB>table Value text
//
// The value is printed with "%.17g" so that it can be compared bit for bit.

#include "decode/Decoder.h"
#include "decode/Format.h"
#include "decode/Frame.h"
#include "decode/Labels.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

using namespace zelvox;

constexpr const char* kUsage = "Usage: zelvox-decode FILE\n"
                               "       zelvox-decode -\n"
                               "\n"
                               "Decodes a raw byte stream from a Zelvox meter (a capture file, or standard\n"
                               "input when FILE is '-') and prints one line per accepted frame with five\n"
                               "tab-separated fields:\n"
                               "  value (%.17g), point position, function code, function label, table text\n"
                               "\n"
                               "Options:\n"
                               "  --help   show this text and exit\n";

// What the command line asks for. A live source (a serial port) would be one more mode here,
// with its own reader feeding the same FramePrinter.
struct Options {
    enum class Mode { Help, Stream } mode = Mode::Help;
    std::string path; // "-" for standard input
};

bool ParseArgs(int argc, char** argv, Options& options, std::string& error) {
    bool haveSource = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.mode = Options::Mode::Help;
            return true;
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
    }
    return 1;
}
