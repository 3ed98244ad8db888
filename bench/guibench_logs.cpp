// The Run View on a service's logs (offscreen platform), printing its figures:
//   - 30 days of zelvox-decode@ttyUSB0's rotated logs at SCALE of the full rate (12 rows/s;
//     29 files, 28 of them gzip, as the package's logrotate rule keeps them): generated in DIR,
//     opened as their folder, the time until the whole run is read and until it is drawn, and
//     the memory (the index's own count and the process's resident memory); removed after;
//   - a followed log that a writer process appends 12 rows a second to: the CPU the follower
//     costs alone (its thread and the event loop taking the rows), and the whole window's.
//
//   guibench_logs [SCALE] [DIR]   (SCALE 1 = about 31 M rows; default 0.25; 0: following alone;
//                                  DIR default /tmp)
#include "ProcessCpu.h"
#include "journal/JournalFollow.h"
#include "panes/RunPlot.h"
#include "panes/RunViewWindow.h"
#include "record/ReadingRecord.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

using namespace zelvox;

namespace {

using zelvox::bench::ResidentMiB;

constexpr std::int64_t kStart = 1796726526000;
constexpr int kDays = 30;

// One day's log: a header, then rows of a DC voltage from Index 0 (the logger restarts daily).
std::string DayRows(int day, std::int64_t rows, std::int64_t from, std::int64_t stepMs) {
    std::string text;
    text.reserve(static_cast<std::size_t>(rows) * 80);
    for (std::int64_t i = from; i < from + rows; ++i) {
        const double v = std::round((5 + 0.5 * std::sin(static_cast<double>(i) / 3000.0)) * 1000) / 1000;
        text += CsvLine(MakeDispatchedReading(
            1, i, WallTimeAt(kStart + day * 86'400'000LL + i * stepMs, 3600), Reading{v, 1, 1}));
    }
    return text;
}

bool WriteDay(const std::string& path, int day, std::int64_t rows, std::int64_t stepMs, bool gzip) {
    std::int64_t done = 0;
    gzFile gz = gzip ? gzopen(path.c_str(), "wb6") : nullptr;
    std::FILE* plain = gzip ? nullptr : std::fopen(path.c_str(), "wb");
    if (!gz && !plain)
        return false;
    std::string text = CsvHeader();
    while (done < rows) {
        const std::int64_t n = std::min<std::int64_t>(100'000, rows - done);
        text += DayRows(day, n, done, stepMs);
        done += n;
        if (gz)
            gzwrite(gz, text.data(), static_cast<unsigned>(text.size()));
        else
            std::fwrite(text.data(), 1, text.size(), plain);
        text.clear();
    }
    return gz ? gzclose(gz) == Z_OK : std::fclose(plain) == 0;
}

// A writer process: appends rows to path at 12 a second until killed.
pid_t StartWriter(const std::string& path) {
    std::vector<std::string> lines;
    for (int i = 0; i < 12 * 120; ++i)
        lines.push_back(DayRows(0, 1, 100 + i, 83));
    const pid_t pid = fork();
    if (pid == 0) {
        std::FILE* f = std::fopen(path.c_str(), "ab");
        for (std::size_t i = 0; f; i = (i + 1) % lines.size()) {
            std::fwrite(lines[i].data(), 1, lines[i].size(), f);
            std::fflush(f);
            usleep(83'333);
        }
        _exit(0);
    }
    return pid;
}

// Runs the event loop for ms without waking it otherwise (QTest::qWait polls every 10 ms).
void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void StopWriter(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double scale = argc > 1 ? std::atof(argv[1]) : 0.25;
    const QString base = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("/tmp");
    const std::int64_t perDay = static_cast<std::int64_t>(12 * 86'400 * scale);
    const std::int64_t stepMs = static_cast<std::int64_t>(83.333 / scale);

    if (scale > 0) {
        QTemporaryDir dir(base + QStringLiteral("/zelvox-logs-XXXXXX"));
        QElapsedTimer made;
        made.start();
        // ttyUSB0.log (today), ttyUSB0.log.1 (yesterday, delaycompress), .2.gz ... .29.gz.
        std::int64_t bytes = 0;
        for (int age = 0; age < kDays - 1; ++age) {
            const std::string name = "/ttyUSB0.log" + (age == 0 ? std::string() : "." + std::to_string(age)) +
                                     (age >= 2 ? ".gz" : "");
            const std::string path = dir.path().toStdString() + name;
            if (!WriteDay(path, kDays - 1 - age, perDay, stepMs, age >= 2)) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                return 1;
            }
            bytes += QFileInfo(QString::fromStdString(path)).size();
        }
        std::printf(
            "logs: 29 files (28 gzip), %lld rows (%.2f of the full rate), %.0f MB on disk, made in %.0f s\n",
            static_cast<long long>(perDay * (kDays - 1)), scale, static_cast<double>(bytes) / 1e6,
            static_cast<double>(made.elapsed()) / 1000);

        const double rss0 = ResidentMiB();
        RunViewWindow view;
        view.resize(1600, 900);
        view.show();
        QElapsedTimer timer;
        timer.start();
        view.Open({dir.path()});
        while (view.IsReading())
            QTest::qWait(20);
        const double read = static_cast<double>(timer.elapsed()) / 1000;
        view.BringUpToDate();
        view.Plot().FitAll();
        view.Plot().repaint();
        const double drawn = static_cast<double>(timer.elapsed()) / 1000;
        const double rows = static_cast<double>(view.Index().Size());
        std::printf("opened as a folder: %.0f rows read in %.1f s, the whole picture at %.1f s\n", rows, read,
                    drawn);
        std::printf("memory: index %.1f B a reading, resident +%.0f MiB (%.1f B a reading)\n",
                    static_cast<double>(view.Index().MemoryBytes()) / rows, ResidentMiB() - rss0,
                    (ResidentMiB() - rss0) * 1048576 / rows);
    }

    // Following: a log written at the meter's full rate.
    QTemporaryDir dir(base + QStringLiteral("/zelvox-follow-XXXXXX"));
    const std::string log = dir.path().toStdString() + "/ttyUSB0.log";
    WriteDay(log, 0, 100, 83, false);
    const int seconds = 30;
    // What the process costs with nothing to do: the floor the follower adds to.
    const double idle0 = bench::ProcessCpuSeconds();
    RunFor(seconds * 1000);
    const double idle = (bench::ProcessCpuSeconds() - idle0) / seconds * 100;
    std::printf("idle event loop: %.4f %% of a core\n", idle);
    {
        JournalFollow follow(QString::fromStdString(log));
        std::int64_t taken = 0;
        QObject::connect(&follow, &JournalFollow::rowsRead, [&](const std::vector<JournalRow>& rows, int) {
            taken += static_cast<std::int64_t>(rows.size());
        });
        follow.Start();
        QTest::qWait(500);
        const pid_t writer = StartWriter(log);
        const double cpu0 = bench::ProcessCpuSeconds();
        RunFor(seconds * 1000);
        const double cpu = bench::ProcessCpuSeconds() - cpu0;
        StopWriter(writer);
        std::printf("follower alone at 12 rows/s: %lld rows in %d s, %.4f %% of a core (%.4f %% over idle)\n",
                    static_cast<long long>(taken), seconds, cpu / seconds * 100, cpu / seconds * 100 - idle);
    }
    {
        RunViewWindow view;
        view.resize(1600, 900);
        view.show();
        view.Open({QString::fromStdString(log)});
        while (view.IsReading())
            QTest::qWait(20);
        QTest::qWait(500);
        const std::int64_t before = view.Index().Size();
        const pid_t writer = StartWriter(log);
        const double cpu0 = bench::ProcessCpuSeconds();
        RunFor(seconds * 1000);
        const double cpu = bench::ProcessCpuSeconds() - cpu0;
        StopWriter(writer);
        std::printf(
            "Run View following at 12 rows/s (offscreen, drawn): %lld rows in %d s, %.3f %% of a core\n",
            static_cast<long long>(view.Index().Size() - before), seconds, cpu / seconds * 100);
    }
    return 0;
}
