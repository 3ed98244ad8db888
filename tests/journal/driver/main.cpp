// journal_driver: a meter session in miniature for the journal tests. Reads meter frames from a
// serial device (a pseudo-terminal), dispatches every accepted frame as a table row into a
// Journal on the event-loop thread, and only then prints the row's CSV line on standard output:
// each printed line is a row the program had dispatched.
//
//   journal_driver DIR DEVICE [--fsize BYTES] [--uid UID]
//
// --fsize sets a file-size limit (a full disk), --uid drops to another user (a folder that is
// not writable for us even when the tests run as root). Journal messages go to standard error:
// "interrupted: PATH" at start, "off: WHY" when the journal turns off. Ends at the device's
// hang-up, closing the journal cleanly.
#include "decode/Decoder.h"
#include "decode/Frame.h"
#include "decode/StandardStreams.h"
#include "journal/Journal.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace zelvox;

int main(int argc, char** argv) {
    zelvox::OpenStandardStreams();
    if (argc < 3)
        return 2;
    // The device first: another user may not be allowed to open it.
    const int fd = ::open(argv[2], O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 4;
    for (int i = 3; i + 1 < argc; i += 2) {
        const long long v = std::atoll(argv[i + 1]);
        if (std::strcmp(argv[i], "--fsize") == 0) {
            const rlimit limit{static_cast<rlim_t>(v), static_cast<rlim_t>(v)};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                return 3;
        } else if (std::strcmp(argv[i], "--uid") == 0) {
            if (::setgid(static_cast<gid_t>(v)) != 0 || ::setuid(static_cast<uid_t>(v)) != 0)
                return 3;
            ::prctl(PR_SET_DUMPABLE, 1); // a sanitizer's leak check needs to trace us at exit
        }
    }
    QCoreApplication app(argc, argv);

    Journal journal(QString::fromLocal8Bit(argv[1]));
    QObject::connect(&journal, &Journal::turnedOff, [](const QString& why) {
        std::fprintf(stderr, "off: %s\n", why.toLocal8Bit().constData());
    });
    for (const InterruptedRun& run : journal.Start().interrupted)
        std::fprintf(stderr, "interrupted: %s\n", run.path.c_str());

    Framer framer;
    framer.Reset();
    int index = 0;
    QSocketNotifier notifier(fd, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        std::uint8_t buf[256];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) {
            if (n == 0 || errno != EAGAIN)
                QCoreApplication::quit(); // the meter hung up
            return;
        }
        framer.Feed(buf, static_cast<std::size_t>(n), [&](const Frame& frame) {
            const Reading r = DecodeFrame(frame);
            const WallTime at = WallTimeNow();
            const DispatchedReading dispatched = MakeDispatchedReading(1, index, at, r);
            journal.Append(dispatched);
            const std::string line = CsvLine(dispatched);
            [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, line.data(), line.size());
            ++index;
        });
    });
    const int status = app.exec();
    journal.Close();
    return status;
}
