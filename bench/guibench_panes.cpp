// Pane figures: trend graph repaint with a full page, gauge repaint, and the readings table's UI
// time per reading at growing table sizes (the cost of a reading should not grow with the table).
//
//   guibench_panes [--rows=N,N,...] [benchmark flags]     (default 1000,1000000,4000000)
#include "decode/FunctionCode.h"
#include "decode/Reading.h"
#include "panes/NeedleGauge.h"
#include "panes/ReadingsTable.h"
#include "panes/TrendGraph.h"
#include "record/ReadingRecord.h"
#include "session/ReadingsModel.h"
#include "support/SessionHub.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <string>
#include <time.h>
#include <vector>

using namespace zelvox;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Heap in use: small blocks plus the large ones malloc hands out as separate mappings.
std::size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void RegisterPaintBenchmarks(testing::SessionHub& hub, TrendGraph& graph, NeedleGauge& gauge) {
    // A full page: 400 readings, a graph with overloads in it, on the 6 V scale.
    for (int i = 0; i < 400; ++i) {
        const double v = i % 97 == 50 ? kOverload : 5.5 * std::sin(i / 15.0);
        testing::Dispatch(hub.session, Reading{v, 1, kDcVolt});
    }
    graph.FirstPage(); // the 400th reading opened page 2; page 1 is the full one
    std::printf("trend graph: %d x %d, page %d of %d, %d readings in the run\n", graph.width(),
                graph.height(), graph.CurrentPage(), graph.PageCount(),
                hub.history().Count() - hub.history().RunStart());

    benchmark::RegisterBenchmark("TrendDraw/full_page_cached", [&graph](benchmark::State& state) {
        QImage target(graph.size(), QImage::Format_RGB32);
        for (auto _ : state) {
            QPainter painter(&target);
            graph.DrawTrend(painter); // export path: plot brought up to date, then copied
        }
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("TrendRepaint/full_page", [&graph](benchmark::State& state) {
        for (auto _ : state)
            graph.repaint(); // synchronous paint of the whole pane into the window's backing store
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("TrendReading", [&hub, &graph](benchmark::State& state) {
        graph.LastPage(); // following the newest readings
        QApplication::processEvents();
        int i = 0;
        for (auto _ : state) {
            // One dispatched reading and the paint of what it changed; the run rolls over
            // to a new page (and a full plot) once per page as it does live.
            testing::Dispatch(hub.session, Reading{5.5 * std::sin(i++ / 15.0), 1, kDcVolt});
            QApplication::processEvents();
        }
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("GaugeReading", [&gauge](benchmark::State& state) {
        int i = 0;
        for (auto _ : state) {
            gauge.ShowReading(1, 2, (i++ % 120) - 60.0);
            QApplication::processEvents();
        }
    })->Unit(benchmark::kMicrosecond);
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// One reading as the running program meets it on the UI thread: the row is appended, the view
// scrolls to it and the window repaints what changed (the queued scroll and the paint both run
// in the event loop pass after the dispatch).
void OneReading(ReadingsTable& table, int i) {
    table.Model().Append(MakeDispatchedReading(
        1, table.Model().NextIndex(), WallTimeNow(),
        Reading{i * 0.001, static_cast<std::uint8_t>(1 + i % 3), static_cast<std::uint8_t>(i % 28)}));
    // Two passes: the first runs the queued scroll, the second the paint it asked for.
    QApplication::processEvents();
    QApplication::processEvents();
}

struct TableFigures {
    double perReadingMs; // UI thread CPU per reading, mean
    double medianMs;     // UI thread CPU per reading, median
    double fillSeconds;  // wall time to append the rows before the measurement
    double heapPerRow;   // heap growth per row while filling
};

// Fills a shown table to `rows` rows (painting every 1000 rows, as a running program would
// between dispatches), then times kReadings further readings one by one.
TableFigures TableAt(int rows) {
    testing::SessionHub hub;
    const std::size_t heapBefore = HeapInUse();
    ReadingsTable table(hub.session.Readings());
    table.resize(480, 279);
    table.InitialUpdate();
    table.show();
    QApplication::processEvents();

    const WallTime at = WallTimeNow();
    const auto fillStart = Clock::now();
    for (int i = 0; i < rows; ++i) {
        table.Model().Append(MakeDispatchedReading(
            1, table.Model().NextIndex(), at,
            Reading{i * 0.001, static_cast<std::uint8_t>(1 + i % 3), static_cast<std::uint8_t>(i % 28)}));
        if ((i + 1) % 1000 == 0)
            QApplication::processEvents();
    }
    QApplication::processEvents();
    const double fill = Seconds(Clock::now() - fillStart);
    const std::size_t heapAfter = HeapInUse();

    constexpr int kWarmUp = 20;
    constexpr int kReadings = 300;
    for (int i = 0; i < kWarmUp; ++i)
        OneReading(table, i);
    std::vector<double> each;
    each.reserve(kReadings);
    for (int i = 0; i < kReadings; ++i) {
        const double t0 = ThreadCpuSeconds();
        OneReading(table, i);
        each.push_back(ThreadCpuSeconds() - t0);
    }
    double sum = 0;
    for (double e : each)
        sum += e;
    std::sort(each.begin(), each.end());
    return {sum / kReadings * 1e3, each[each.size() / 2] * 1e3, fill,
            static_cast<double>(heapAfter - heapBefore) / std::max(1, rows)};
}

void TableRuns(const std::vector<int>& sizes) {
    std::printf("\nreadings table: UI thread CPU per reading (append, scroll to the end, paint), "
                "%s platform\n",
                qPrintable(QGuiApplication::platformName()));
    std::printf("  %10s  %12s  %12s  %10s  %12s\n", "rows", "mean ms", "median ms", "fill s", "heap B/row");
    double first = 0;
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        const TableFigures f = TableAt(sizes[k]);
        if (k == 0)
            first = f.perReadingMs;
        std::printf("  %10d  %12.3f  %12.3f  %10.2f  %12.1f", sizes[k], f.perReadingMs, f.medianMs,
                    f.fillSeconds, f.heapPerRow);
        if (k > 0)
            std::printf("   (%.2fx of %d rows)", f.perReadingMs / first, sizes[0]);
        std::printf("\n");
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // --rows=N[,N...]: the table sizes to measure at.
    std::vector<int> sizes{1000, 1000000, 4000000};
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--rows=", 7) != 0)
            continue;
        sizes.clear();
        for (const QString& n : QString::fromLatin1(argv[i] + 7).split(QLatin1Char(',')))
            sizes.push_back(std::max(1, n.toInt()));
    }
    benchmark::Initialize(&argc, argv);

    {
        testing::SessionHub hub;
        TrendGraph graph(hub.session);
        NeedleGauge gauge;
        // Only the graph follows the session here: the gauge has benchmarks of its own.
        ConnectPanes(hub.session, SessionPanes{nullptr, &graph, nullptr});
        graph.resize(450, 279);
        gauge.resize(410, 227);
        graph.InitialUpdate();
        gauge.InitialUpdate();
        graph.show();
        gauge.show();
        QApplication::processEvents();
        RegisterPaintBenchmarks(hub, graph, gauge);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::ClearRegisteredBenchmarks();
    }

    TableRuns(sizes);
    benchmark::Shutdown();
    return 0;
}
