// Pane figures: trend graph repaint with a full page, gauge repaint, and the readings table over
// a long logging run (append time and memory per row, repaint time at the end).
//
//   guibench_panes [--rows=N] [benchmark flags]     (default 1,000,000 rows)
#include "decode/FunctionCode.h"
#include "decode/Reading.h"
#include "panes/NeedleGauge.h"
#include "panes/ReadingsTable.h"
#include "panes/TrendGraph.h"
#include "session/ReadingsModel.h"
#include "support/SessionHub.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTableView>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <string>

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

long ResidentKiB() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kib = std::strtol(line + 6, nullptr, 10);
    std::fclose(f);
    return kib;
}

void RegisterPaintBenchmarks(testing::SessionHub& hub, TrendGraph& graph, NeedleGauge& gauge) {
    // A full page: 400 readings, a graph with overloads in it, on the 6 V scale.
    for (int i = 0; i < 400; ++i) {
        const double v = i % 97 == 50 ? kOverload : 5.5 * std::sin(i / 15.0);
        testing::Dispatch(hub.session, Reading{v, 1, kDcVolt});
    }
    graph.FirstPage(); // the 400th reading opened page 2; page 1 is the full one
    std::printf("trend graph: %d x %d, page %d of %d, %d readings in the run\n", graph.width(),
                graph.height(), graph.currentPage(), graph.pageCount(),
                hub.history().Count() - hub.history().RunStart());

    benchmark::RegisterBenchmark("TrendCompose/full_page", [&graph](benchmark::State& state) {
        QImage target(graph.size(), QImage::Format_RGB32);
        for (auto _ : state) {
            QPainter painter(&target);
            graph.DrawTrend(painter);
        }
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("TrendRepaint/full_page", [&graph](benchmark::State& state) {
        for (auto _ : state)
            graph.repaint(); // synchronous paint into the window's backing store
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("GaugeRepaint", [&gauge](benchmark::State& state) {
        int i = 0;
        for (auto _ : state) {
            gauge.ShowReading(1, 2, (i++ % 120) - 60.0);
            gauge.repaint();
        }
    })->Unit(benchmark::kMicrosecond);
}

// Appends `rows` readings to a shown table, letting the window paint every `batch` rows as a
// running program would between dispatches; prints time and memory per row.
void TableRun(int rows) {
    testing::SessionHub hub;
    const std::size_t heapBefore = HeapInUse();
    const long rssBefore = ResidentKiB();
    ReadingsTable table(hub.session.Readings());
    table.resize(480, 279);
    table.InitialUpdate();
    table.show();
    QApplication::processEvents();

    constexpr int kBatch = 1000;
    const TimeOfDay at = LocalTimeOfDay();
    const auto start = Clock::now();
    Clock::duration worstBatch{};
    auto batchStart = start;
    for (int i = 0; i < rows; ++i) {
        table.AddReading(static_cast<std::uint8_t>(1 + i % 3), static_cast<std::uint8_t>(i % 28), i * 0.001,
                         at);
        if ((i + 1) % kBatch == 0) {
            QApplication::processEvents();
            const auto now = Clock::now();
            worstBatch = std::max(worstBatch, now - batchStart);
            batchStart = now;
        }
    }
    QApplication::processEvents();
    const double total = Seconds(Clock::now() - start);
    const std::size_t heapAfter = HeapInUse();
    const long rssAfter = ResidentKiB();

    // One more row with the table full: the cost a user would feel at a dispatch (the row, the
    // scroll to it and the repaint), then a repaint with nothing new.
    const auto oneStart = Clock::now();
    table.AddReading(1, 1, 1.0);
    QApplication::processEvents();
    table.List()->viewport()->repaint();
    const double oneRow = Seconds(Clock::now() - oneStart);
    constexpr int kRepaints = 50;
    const auto paintStart = Clock::now();
    for (int i = 0; i < kRepaints; ++i)
        table.List()->viewport()->repaint();
    const double paintOnly = Seconds(Clock::now() - paintStart) / kRepaints;

    std::printf("\nreadings table, %d rows appended with the view shown (painted every %d rows):\n", rows,
                kBatch);
    std::printf("  append:            %.3f s in all, %.3f us per row (paints included)\n", total,
                total * 1e6 / rows);
    std::printf("  worst batch:       %.2f ms for %d rows\n", Seconds(worstBatch) * 1e3, kBatch);
    std::printf("  row store:         %.1f bytes per row\n",
                static_cast<double>(table.Model().StorageBytes()) / rows);
    std::printf("  heap growth:       %.1f bytes per row (model, view and header together)\n",
                static_cast<double>(heapAfter - heapBefore) / rows);
    std::printf("  resident growth:   %.1f bytes per row\n", (rssAfter - rssBefore) * 1024.0 / rows);
    std::printf("  at %d rows: add one row and repaint %.2f ms; repaint alone %.2f ms\n", table.RowCount(),
                oneRow * 1e3, paintOnly * 1e3);
    std::printf("  last row: %s | %s | %s | %s\n", qPrintable(table.CellText(rows, 0)),
                qPrintable(table.CellText(rows, 1)), qPrintable(table.CellText(rows, 2)),
                qPrintable(table.CellText(rows, 3)));
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int rows = 1000000;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--rows=", 7) == 0)
            rows = std::max(1, std::atoi(argv[i] + 7));
    benchmark::Initialize(&argc, argv);

    {
        testing::SessionHub hub;
        TrendGraph graph(&hub.session);
        NeedleGauge gauge;
        // Only the graph follows the session here: the gauge has a benchmark of its own.
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

    TableRun(rows);
    benchmark::Shutdown();
    return 0;
}
