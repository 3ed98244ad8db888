// The Run View on a long run (offscreen platform), printing its figures:
//   - a journal of ROWS readings (default 10,000,000: 23 days at 5 a second, with stops,
//     function changes, overloads and single-reading spikes) read into the window: the time to
//     the first picture and to the whole run drawn, and the memory per reading (the index's own
//     count and the growth of the process's resident memory);
//   - frames in a 1600 x 900 plot at zoom levels from the whole run down to single readings,
//     panning at each: the 99th percentile and the longest frame per level;
//   - live: the work each new reading costs (index, then one frame of a following view) with 10
//     readings in the run and with 10,000,000.
//
//   - the same ROWS (default 20,000,000) once in long stretches of one function and once
//     changing function at every row: the time to the whole run drawn and the bytes a reading.
//
//   guibench_runview [ROWS] [JOURNAL]   (JOURNAL is kept when given and reused when it exists)
//   guibench_runview live               (the live figures alone)
//   guibench_runview changing [ROWS] [FOLDER]   (plain against changing every row)
#include "PlotFrames.h"
#include "ProcessCpu.h"
#include "journal/JournalLoader.h"
#include "panes/RunPlot.h"
#include "panes/RunViewWindow.h"
#include "runview/RunIndex.h"
#include "support/RunJournal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <vector>

using namespace zelvox;

namespace {

using zelvox::bench::ResidentMiB;

// CPU seconds this process has used, all threads.
double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The nanoseconds one more reading costs an index that holds `held` readings.
double AppendNs(std::int64_t held) {
    RunIndex index;
    const std::int64_t start = 1796726526000;
    for (std::int64_t i = 0; i < held; ++i)
        index.Append(start + i * 200, 3600, Reading{5.0 + (i % 13) * 0.001, 1, 1}, i + 1, 0);
    // The next readings, each timed alone; the mean of many single appends.
    constexpr int kTimed = 2000;
    double total = 0;
    for (int k = 0; k < kTimed; ++k) {
        const std::int64_t i = held + k;
        const auto t0 = std::chrono::steady_clock::now();
        index.Append(start + i * 200, 3600, Reading{5.0 + (i % 13) * 0.001, 1, 1}, i + 1, 0);
        total += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
    }
    return total / kTimed;
}

// The CPU time of this thread, in microseconds.
double ThreadCpuUs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// A live Run View, shown in 1600 x 900, brought up to date after each new reading as its timer
// does (once a second in the program, that is every second reading at 120 a minute): the UI
// thread's CPU time for the reading's append, the picture and the readout, with `held`
// readings already in.
double LiveUpdateUs(std::int64_t held, bool followSpan) {
    auto index = std::make_shared<RunIndex>();
    const std::int64_t start = 1796726526000;
    std::int64_t i = 0;
    const auto add = [&] {
        index->Append(start + i * 500, 3600, Reading{5.0 + (i % 13) * 0.001, 1, 1}, i + 1, 0);
        ++i;
    };
    while (i < held)
        add();
    RunViewWindow view(index);
    view.resize(1600 + 40, 900 + 200);
    view.Plot().resize(1600, 900);
    view.show();
    QApplication::processEvents();
    if (followSpan) {
        // Ten minutes in sight, following the newest.
        view.Plot().ShowSpan(static_cast<double>(start + (i - 1200) * 500),
                             static_cast<double>(start + i * 500));
        QTest::keyClick(&view.Plot(), Qt::Key_End);
    }
    QTest::qWait(100);
    constexpr int kReadings = 200;
    std::vector<double> costs;
    for (int k = 0; k < kReadings; ++k) {
        const double t0 = ThreadCpuUs();
        add();
        view.BringUpToDate();
        QApplication::processEvents(); // the repaint it asked for
        costs.push_back(ThreadCpuUs() - t0);
        QTest::qWait(5);
    }
    double sum = 0;
    for (double c : costs)
        sum += c;
    return sum / kReadings;
}

struct OpenFigures {
    double firstPictureMs = 0, wholeMs = 0, cpuSeconds = 0;
    double indexBytes = 0, residentBytes = 0; // a reading
};

// Reads the journal into a shown window: the first picture, the whole run drawn, memory.
OpenFigures OpenJournal(RunViewWindow& window, const QString& path) {
    OpenFigures f;
    malloc_trim(0);
    const double rssBefore = ResidentMiB();
    window.resize(1600 + 100, 900 + 200);
    window.show();
    QElapsedTimer open;
    open.start();
    const double cpuBefore = CpuSeconds();
    window.Open({path});
    f.firstPictureMs = -1;
    while (window.IsReading()) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (f.firstPictureMs < 0 && window.Index().Size() > 0) {
            window.Plot().repaint();
            f.firstPictureMs = static_cast<double>(open.nsecsElapsed()) / 1e6;
        }
    }
    QApplication::processEvents();
    window.Plot().repaint();
    f.wholeMs = static_cast<double>(open.nsecsElapsed()) / 1e6;
    f.cpuSeconds = CpuSeconds() - cpuBefore;
    malloc_trim(0);
    const double n = std::max<double>(1, static_cast<double>(window.Index().Size()));
    f.indexBytes = static_cast<double>(window.Index().MemoryBytes()) / n;
    f.residentBytes = (ResidentMiB() - rssBefore) * 1048576.0 / n;
    return f;
}

QString MadeJournal(const QString& path, std::int64_t rows, bool changing) {
    if (!QFileInfo::exists(path))
        testing::WriteRunJournal(path.toStdString(), rows, 1'000'000, 1796726526000, 3600, changing);
    return path;
}

// The same rows plain and changing function at every row, each in a window of its own.
int Changing(std::int64_t rows, const QString& folder) {
    OpenFigures figures[2];
    for (int changing = 0; changing < 2; ++changing) {
        const QString path =
            MadeJournal(folder + (changing ? QStringLiteral("/changing.csv") : QStringLiteral("/plain.csv")),
                        rows, changing);
        RunViewWindow window;
        figures[changing] = OpenJournal(window, path);
        const OpenFigures& f = figures[changing];
        std::printf("%s %lld readings: whole run drawn %.0f ms (CPU %.1f s); index %.2f bytes/reading, "
                    "resident growth %.2f bytes/reading; %lld segments\n",
                    changing ? "changing every row" : "plain             ",
                    static_cast<long long>(window.Index().Size()), f.wholeMs, f.cpuSeconds, f.indexBytes,
                    f.residentBytes, static_cast<long long>(window.Index().SegmentCount()));
    }
    std::printf("changing / plain: time %.2fx\n", figures[1].wholeMs / figures[0].wholeMs);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "live") {
        for (std::int64_t held : {std::int64_t{10}, std::int64_t{10'000'000}})
            for (bool span : {false, true})
                std::printf("live update (%s) with %lld readings: %.0f us\n",
                            span ? "following 10 minutes" : "whole run", static_cast<long long>(held),
                            LiveUpdateUs(held, span));
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "changing") {
        QTemporaryDir temporary;
        return Changing(argc > 2 ? std::atoll(argv[2]) : 20'000'000,
                        argc > 3 ? QString::fromLocal8Bit(argv[3]) : temporary.path());
    }
    const std::int64_t rows = argc > 1 ? std::atoll(argv[1]) : 10'000'000;
    QTemporaryDir dir;
    const QString path = argc > 2 ? QString::fromLocal8Bit(argv[2]) : dir.filePath(QStringLiteral("run.csv"));
    if (!QFileInfo::exists(path)) {
        QElapsedTimer t;
        t.start();
        testing::WriteRunJournal(path.toStdString(), rows, 1'000'000);
        std::printf("wrote %lld readings (%.0f MB) in %.1f s\n", static_cast<long long>(rows),
                    static_cast<double>(QFileInfo(path).size()) / 1e6,
                    static_cast<double>(t.elapsed()) / 1e3);
    }

    // The journal reader alone, for comparison: the floor of the time to the whole run.
    {
        QElapsedTimer t;
        t.start();
        const JournalReport r = ReadJournal(path, [](std::vector<JournalRow>&&) {});
        std::printf("journal reader alone: %lld rows in %lld ms\n", static_cast<long long>(r.rows),
                    static_cast<long long>(t.elapsed()));
    }

    // Open: first picture, whole run drawn, memory.
    RunViewWindow window;
    const OpenFigures opened = OpenJournal(window, path);
    const RunIndex& index = window.Index();
    std::printf(
        "open %lld readings: first picture %.0f ms, whole run drawn %.0f ms (CPU %.1f s, both threads)\n",
        static_cast<long long>(index.Size()), opened.firstPictureMs, opened.wholeMs, opened.cpuSeconds);
    std::printf("memory: index %.2f bytes/reading; resident growth %.2f bytes/reading\n", opened.indexBytes,
                opened.residentBytes);
    std::printf("segments %lld, lanes %zu\n", static_cast<long long>(index.SegmentCount()),
                index.LaneCount());

    // Frames in 1600 x 900, panning at each zoom level.
    RunPlot& plot = window.Plot();
    plot.resize(1600, 900);
    QImage image(1600, 900, QImage::Format_RGB32);
    const double first = static_cast<double>(index.Time(0));
    const double last = static_cast<double>(index.Time(index.Size() - 1));
    std::vector<double> all;
    std::printf("%14s %8s %8s %8s\n", "span", "p50 ms", "p99 ms", "max ms");
    for (double span = last - first; span >= 400; span /= 4) {
        std::vector<double> frames;
        for (int k = 0; k < 60; ++k) {
            // Across the whole run, landing on stops, function changes and spikes alike.
            const double from = first + (last - first - span) * (k / 59.0);
            plot.ShowSpan(from, from + span);
            frames.push_back(bench::FrameMs(plot, image));
        }
        all.insert(all.end(), frames.begin(), frames.end());
        std::printf("%12.0f s %8.2f %8.2f %8.2f\n", span / 1000, bench::Percentile(frames, 0.5),
                    bench::Percentile(frames, 0.99), *std::max_element(frames.begin(), frames.end()));
    }
    std::printf("all frames: p99 %.2f ms, max %.2f ms (%zu frames)\n", bench::Percentile(all, 0.99),
                *std::max_element(all.begin(), all.end()), all.size());

    // Live: one reading's work, with 10 readings in the run and with 10 M.
    for (std::int64_t held : {std::int64_t{10}, std::int64_t{10'000'000}})
        std::printf("live: append with %lld readings held: %.0f ns\n", static_cast<long long>(held),
                    AppendNs(held));
    // The window showing and following: one update's work; the program updates once a second.
    for (std::int64_t held : {std::int64_t{10}, std::int64_t{10'000'000}})
        for (bool span : {false, true}) {
            const double us = LiveUpdateUs(held, span);
            std::printf("live update (%s) with %lld readings: %.0f us; once a second = %.4f %% of a core\n",
                        span ? "following 10 minutes" : "whole run", static_cast<long long>(held), us,
                        us / 1e4);
        }
    std::printf("live index alone: %.5f %% of a core at 120 readings a minute\n",
                AppendNs(10'000'000) * 2 / 1e9 * 100);
    return 0;
}
