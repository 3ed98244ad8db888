// `zelvox --load` of a large journal (offscreen platform): the rows per second of the reader
// alone, then of the whole program (window shown, table filled, graph and gauge updated), the
// longest the UI thread went without serving its event loop meanwhile, and the peak RSS.
//
//   guibench_load [ROWS]   (default 3,300,000 rows, about 227 MB)
//
// The journal is written to $TMPDIR first, streamed, so that writing it costs no memory.
#include "app/MainWindow.h"
#include "app/ZelvoxApplication.h"
#include "journal/JournalLoader.h"
#include "record/RowCodec.h"
#include "session/MeterSession.h"
#include "session/ReadingsModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

using namespace zelvox;

namespace {

// VmRSS or VmHWM of this process, in MiB.
double MemoryMiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0)
            return std::atof(line.c_str() + key.size()) / 1024.0;
    return 0;
}

Reading RowReading(long i) {
    const std::uint8_t functions[] = {1, 2, 12, 17, 23, 26};
    const double value = (i % 97 == 0) ? kOverload : static_cast<double>(i % 2000) * 0.137 - 50.0;
    return {value, std::uint8_t(i % 4), functions[(i / 5000) % 6]};
}

bool WriteJournal(const QString& path, long rows) {
    std::FILE* out = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!out)
        return false;
    std::fputs(CsvHeader().c_str(), out);
    const std::int64_t t0 = WallTimeNow().EpochMs() - rows * 200;
    for (long i = 0; i < rows; ++i) {
        const WallTime at = WallTimeAt(t0 + i * 200);
        const Reading r = RowReading(i);
        const std::string line = CsvLine(MakeDispatchedReading(1, static_cast<int>(i), at, r));
        std::fwrite(line.data(), 1, line.size(), out);
    }
    return std::fclose(out) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long rows = argc > 1 ? std::max(1L, std::atol(argv[1])) : 3300000L;
    QTemporaryDir tmp;
    const QString path = tmp.filePath(QStringLiteral("journal.csv"));
    if (!WriteJournal(path, rows)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    const double fileMiB = static_cast<double>(QFile(path).size()) / (1024.0 * 1024.0);

    QElapsedTimer clock;
    clock.start();
    const JournalReport parsed = ReadJournal(path, [](std::vector<JournalRow>&&) {});
    const double parseSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    std::printf("reader alone: %lld rows of %.0f MiB in %.2f s = %.2f M rows/s\n",
                static_cast<long long>(parsed.rows), fileMiB, parseSeconds,
                static_cast<double>(parsed.rows) / parseSeconds / 1e6);

    const double rssBefore = MemoryMiB("VmRSS");
    ZelvoxApplication zelvox;
    CommandLine options;
    options.journal = false;
    options.load = path;
    clock.restart();
    if (!zelvox.InitInstance(options))
        return 1;
    MainWindow* window = zelvox.Window();
    // The UI thread's longest pass without serving a 5 ms timer: what a click would wait for.
    qint64 longestGapMs = 0;
    QElapsedTimer gap;
    gap.start();
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] { longestGapMs = std::max(longestGapMs, gap.restart()); });
    tick.start();
    while (window->Session().Loading())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QApplication::processEvents();
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const int shown = window->Session().Readings().Count();
    std::printf("zelvox --load: %d rows in %.2f s = %.2f M rows/s; longest UI pass %lld ms; "
                "RSS %.0f MiB before, peak %.0f MiB (VmHWM of the whole process)\n",
                shown, seconds, shown / seconds / 1e6, static_cast<long long>(longestGapMs), rssBefore,
                MemoryMiB("VmHWM"));
    std::printf("report: %s\n", qPrintable(window->Notices().value(window->Notices().size() - 1)));
    std::printf("graph history: %d readings\n", int(window->Session().History().Count()));
    return 0;
}
