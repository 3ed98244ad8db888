// The readings journal's cost: the UI thread's time per row (every Append, with the sync thread
// calling fdatasync once a second beside it), the added CPU at 120 readings a minute, and the
// time `zelvox --load` takes to read a 100,000-row journal and fill the readings table.
//
//   guibench_journal [SECONDS]   (the 120/min run; default 60)
//
// The journal goes to a temporary folder under $TMPDIR (set it to try another file system).
#include "ProcessCpu.h"
#include "journal/Journal.h"
#include "journal/JournalLoader.h"
#include "panes/ReadingsTable.h"
#include "session/ReadingsModel.h"

#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using namespace zelvox;
using Clock = std::chrono::steady_clock;

Reading RowReading(int i) {
    const std::uint8_t functions[] = {1, 2, 12, 17, 23, 26};
    const double value = (i % 97 == 0) ? 999999.0 : (i % 2000) * 0.137 - 50.0;
    return {value, std::uint8_t(i % 4), functions[i % 6]};
}

// Appends rows back to back for a few seconds; prints the distribution of one Append's time.
QString TimePerRow(const QString& dir) {
    Journal journal(dir);
    journal.Start();
    std::vector<double> us;
    us.reserve(200000);
    const Clock::time_point end = Clock::now() + std::chrono::seconds(3);
    for (int i = 0; Clock::now() < end && i < 200000; ++i) {
        const WallTime at = WallTimeNow();
        const Reading r = RowReading(i);
        const auto t0 = Clock::now();
        journal.Append(MakeDispatchedReading(1, i, at, r));
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    const QString path = journal.CurrentFile();
    journal.Close();
    const double first = us.front(); // opens the file: create, header, marker
    us.erase(us.begin());
    std::sort(us.begin(), us.end());
    const auto at = [&](double q) { return us[std::min(us.size() - 1, std::size_t(q * double(us.size())))]; };
    double sum = 0;
    for (double v : us)
        sum += v;
    std::printf("UI thread per row (%zu rows back to back, fdatasync once a second beside them):\n"
                "  mean %.2f us, median %.2f us, p99 %.2f us, p99.9 %.2f us, max %.1f us; "
                "first row (opens the file) %.1f us\n",
                us.size(), sum / double(us.size()), at(0.5), at(0.99), at(0.999), us.back(), first);
    return path;
}

// 120 rows a minute for `seconds`; the process's CPU (UI and sync thread) against the wall clock.
void CpuAt120PerMinute(const QString& dir, int seconds) {
    Journal journal(dir);
    journal.Start();
    const double cpu0 = bench::ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    int rows = 0;
    double maxUs = 0, sumUs = 0;
    for (Clock::time_point next = start; next < start + std::chrono::seconds(seconds);
         next += std::chrono::milliseconds(500)) {
        std::this_thread::sleep_until(next);
        const auto t0 = Clock::now();
        journal.Append(MakeDispatchedReading(1, rows, WallTimeNow(), RowReading(rows)));
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        if (rows > 0) // the first opens the file
            maxUs = std::max(maxUs, us), sumUs += us;
        ++rows;
    }
    journal.Close();
    const double cpu = bench::ProcessCpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("120 readings a minute for %.0f s: %d rows, CPU %.4f s = %.4f%% of one core "
                "(UI and sync thread together); UI thread per row mean %.1f us, max %.1f us\n",
                wall, rows, cpu, 100.0 * cpu / wall, sumUs / std::max(1, rows - 1), maxUs);
}

// Writes a 100,000-row journal, then loads it into a shown readings table.
void Load100k(const QString& dir) {
    Journal journal(dir);
    journal.Start();
    const std::int64_t t0 = WallTimeNow().EpochMs();
    for (int i = 0; i < 100000; ++i)
        journal.Append(MakeDispatchedReading(1, i, WallTimeAt(t0 + i * 500), RowReading(i)));
    const QString path = journal.CurrentFile();
    journal.Close();

    const auto start = Clock::now();
    const LoadedJournal loaded = LoadJournal(path);
    const auto read = Clock::now();
    ReadingsModel readings;
    ReadingsTable table(readings);
    table.resize(480, 300);
    table.show();
    for (const JournalRow& row : loaded.rows)
        readings.Append(MakeDispatchedReading(1, readings.NextIndex(), row.at, row.reading));
    QApplication::processEvents();
    const auto shown = Clock::now();
    std::printf("--load of a 100,000-row journal: %zu rows read in %.0f ms, table filled and shown in "
                "%.0f ms, %.0f ms in all\n",
                loaded.rows.size(), std::chrono::duration<double, std::milli>(read - start).count(),
                std::chrono::duration<double, std::milli>(shown - read).count(),
                std::chrono::duration<double, std::milli>(shown - start).count());
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    QTemporaryDir tmp;
    TimePerRow(tmp.filePath(QStringLiteral("a")));
    Load100k(tmp.filePath(QStringLiteral("b")));
    CpuAt120PerMinute(tmp.filePath(QStringLiteral("c")), seconds);
    return 0;
}
