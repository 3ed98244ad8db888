// zelvox-decode: a headless decoder and logger for the meter's byte stream. Reads a capture file,
// standard input or a serial port, checks and decodes every frame, and writes one line per
// accepted frame (or, with --rate, one per sampling period) as text, CSV or JSON lines.
//
// The text format is five tab-separated fields:
//
//   value<TAB>pointPosition<TAB>functionCode<TAB>function label<TAB>table Value text
//
// The value is printed with "%.17g" so that it can be compared bit for bit.

#include "DecodeOptions.h"
#include "Publishing.h"
#include "decode/StandardStreams.h"
#include "link/Settings.h"
#include "link/StopSignals.h"
#include "record/JournalFolder.h"

#include <QCommandLineParser>
#include <QStringList>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using namespace zelvox;

constexpr const char* kUsage =
    "Usage: zelvox-decode [--format F] FILE\n"
    "  or:  zelvox-decode [--format F] -\n"
    "  or:  zelvox-decode [--format F] [--rate N] [--once] --port NAME\n"
    "  or:  zelvox-decode --note TEXT --port NAME [--journal-dir DIR]\n"
    "\n"
    "Decodes a raw byte stream from a Zelvox meter (a capture file, standard input\n"
    "when FILE is '-', or a serial port) and writes one line per accepted frame.\n"
    "\n"
    "Options:\n"
    "  --port NAME    decode live from serial port NAME (ttyUSB0 for /dev/ttyUSB0, or\n"
    "                 an absolute path) at 2400 baud 8N1 until SIGINT, SIGTERM, SIGHUP,\n"
    "                 SIGQUIT or SIGPIPE; when the port goes away (adapter unplugged)\n"
    "                 it is reopened every second until it is back, and a port not\n"
    "                 there at the start is waited for the same way; 5 s without a\n"
    "                 frame are said on standard error\n"
    "  --once         with --port: exit with status 1 when the port goes away or is\n"
    "                 not there\n"
    "  --rate N       with --port: N readings per minute (1 to 120), paced like the\n"
    "                 program's sampling; without it, every accepted frame\n"
    "  --format F     text (the default), csv or jsonl, as below\n"
    "  --note TEXT    write a note in the events file of the logger running on\n"
    "                 --port NAME (NAME.events.csv beside its journal, State note),\n"
    "                 appended as one write beside the logger's own rows; the\n"
    "                 logger keeps a journal only with --mqtt: without one running\n"
    "                 there, an error and exit status 2\n";

constexpr const char* kAlarmUsageEnd =
    "                    These need --port. Each alarm event is a line on standard\n"
    "                    error; with --mqtt also a row of NAME.events.csv beside\n"
    "                    the journal and the retained PREFIX/alarm/NAME (a binary\n"
    "                    sensor with --mqtt-discovery). Without --mqtt no events\n"
    "                    file\n";

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

void PrintUsage(std::FILE* out) {
    std::fputs(kUsage, out);
    std::fputs(kPublishingUsage, out);
    std::fputs(AlarmUsage(17).c_str(), out);
    std::fputs(kAlarmUsageEnd, out);
    std::fputs(kUsageEnd, out);
}

std::string Text(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

// The command line, read by QCommandLineParser; false with *error (one line) when it is wrong.
bool ParseArgs(int argc, char** argv, DecodeOptions& options, std::string* error) {
    // The alarm options are taken first, by their own parser; the rest go to Qt's.
    const std::vector<std::string> all(argv, argv + argc);
    QStringList args;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const int taken = i == 0 ? 0 : TakeAlarmOption(all, i, options.alarms, error);
        if (taken < 0)
            return false;
        if (taken == 0)
            args << QString::fromLocal8Bit(all[i].c_str());
    }
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const auto withValue = [](const char* name) {
        return QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value"));
    };
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption once(QStringLiteral("once")), discovery(QStringLiteral("mqtt-discovery"));
    const QCommandLineOption format = withValue("format"), rate = withValue("rate"), port = withValue("port");
    const QCommandLineOption mqtt = withValue("mqtt"), passwordFile = withValue("mqtt-password-file"),
                             caFile = withValue("mqtt-cafile"), certFile = withValue("mqtt-cert"),
                             keyFile = withValue("mqtt-key"), clientId = withValue("mqtt-client-id"),
                             journalDir = withValue("journal-dir"), keepDays = withValue("keep-days"),
                             keepMb = withValue("keep-mb"), note = withValue("note");
    parser.addOptions({help, once, discovery, format, rate, port, mqtt, passwordFile, caFile, certFile,
                       keyFile, clientId, journalDir, keepDays, keepMb, note});
    const auto fail = [&](const std::string& why) {
        *error = why;
        return false;
    };
    if (!parser.parse(args))
        return fail(Text(parser.errorText()));
    if (parser.isSet(help)) {
        options.mode = DecodeOptions::Mode::Help;
        return true;
    }
    for (const QCommandLineOption* o : {&format, &rate, &port, &mqtt, &passwordFile, &caFile, &certFile,
                                        &keyFile, &clientId, &journalDir, &keepDays, &keepMb, &note})
        if (parser.isSet(*o) && parser.value(*o).isEmpty())
            return fail("--" + Text(o->names().first()) + " needs a value");
    if (parser.values(port).size() + parser.positionalArguments().size() > 1)
        return fail("more than one input given");
    if (parser.isSet(format) && !ParseRecordFormat(Text(parser.value(format)), options.format))
        return fail("unknown format '" + Text(parser.value(format)) + "' (text, csv or jsonl)");
    if (parser.isSet(rate)) {
        bool ok = false;
        options.rate = parser.value(rate).toInt(&ok);
        if (!ok || options.rate < kMinSamplingRate || options.rate > kMaxSamplingRate)
            return fail("--rate takes 1 to 120 readings per minute");
    }
    options.once = parser.isSet(once);
    PublishingOptions& p = options.publishing;
    p.url = Text(parser.value(mqtt));
    p.passwordFile = Text(parser.value(passwordFile));
    p.caFile = Text(parser.value(caFile));
    p.certFile = Text(parser.value(certFile));
    p.keyFile = Text(parser.value(keyFile));
    p.clientId = Text(parser.value(clientId));
    p.journalDir = Text(parser.value(journalDir));
    p.keepDays = Text(parser.value(keepDays));
    p.keepMb = Text(parser.value(keepMb));
    PruneRules check;
    if (!SetKeepOption("keep-days", p.keepDays, check, error) ||
        !SetKeepOption("keep-mb", p.keepMb, check, error))
        return false;
    p.discovery = parser.isSet(discovery);
    if (parser.isSet(note)) {
        // A note for a logger that runs already: its port (or folder) and nothing else.
        options.mode = DecodeOptions::Mode::Note;
        options.note = Text(parser.value(note));
        options.path = Text(parser.value(port));
        if (options.path.empty() && p.journalDir.empty())
            return fail("--note needs the logger's --port NAME or its --journal-dir DIR");
        if (!parser.positionalArguments().isEmpty() || p.Requested() || options.rate != 0 || options.once ||
            options.alarms.Requested())
            return fail("--note takes only --port and --journal-dir");
        return true;
    }
    if (parser.isSet(port)) {
        options.mode = DecodeOptions::Mode::Port;
        options.path = Text(parser.value(port));
    } else if (!parser.positionalArguments().isEmpty()) {
        options.mode = DecodeOptions::Mode::Stream;
        options.path = Text(parser.positionalArguments().first());
    } else {
        return fail("no input given");
    }
    if (options.mode != DecodeOptions::Mode::Port && (options.rate != 0 || options.once))
        return fail("--rate and --once need --port");
    if (p.AnyCompanion() && !p.Requested())
        return fail("the --mqtt-..., --journal-dir and --keep-... options need --mqtt");
    if (p.Requested() && options.mode != DecodeOptions::Mode::Port)
        return fail("--mqtt needs --port");
    if (options.alarms.Requested() && options.mode != DecodeOptions::Mode::Port)
        return fail("--alarm, --alarms and --alarm-exec need --port");
    return MakeAlarmRules(options.alarms, options.rules, error);
}

} // namespace

namespace zelvox {

void SayStartFailure(const std::string& reason) {
    std::fprintf(stderr, "zelvox-decode: %s\n", reason.c_str());
    // sd_notify's datagram, written by hand: one more library is not worth one line.
    const char* socketPath = std::getenv("NOTIFY_SOCKET");
    if (!socketPath || (socketPath[0] != '/' && socketPath[0] != '@'))
        return;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::size_t length = std::strlen(socketPath);
    if (length >= sizeof addr.sun_path)
        return;
    std::memcpy(addr.sun_path, socketPath, length);
    if (addr.sun_path[0] == '@')
        addr.sun_path[0] = '\0'; // an abstract socket
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    const std::string message = "STATUS=" + reason;
    [[maybe_unused]] const ssize_t n =
        ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&addr),
                 static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length));
    ::close(fd);
}

} // namespace zelvox

int main(int argc, char** argv) {
    const ClosedStreams closed = OpenStandardStreams();
    DecodeOptions options;
    std::string error;
    if (!ParseArgs(argc, argv, options, &error)) {
        // The reason is the last line, after a one-line pointer to the whole usage.
        std::fprintf(stderr, "zelvox-decode: see zelvox-decode --help\n");
        SayStartFailure(error);
        return 2;
    }
    if (options.mode == DecodeOptions::Mode::Help) {
        PrintUsage(stdout);
        return 0;
    }
    if (options.mode == DecodeOptions::Mode::Note)
        return WriteNote(options.note, options.publishing.journalDir, options.path);
    if (closed.input && options.mode == DecodeOptions::Mode::Stream && options.path == "-") {
        SayStartFailure("standard input is closed");
        return 2;
    }
    if (closed.output) {
        SayStartFailure("standard output is closed");
        return 2;
    }
    const StopSignals stopSignals({SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}, /*secondEndsAtOnce=*/false);
    return options.mode == DecodeOptions::Mode::Stream ? RunStream(options, stopSignals.WakeFd())
                                                       : RunPort(options, stopSignals.WakeFd());
}
