// The table exports on a long run: 100,000 rows saved as a workbook and as text, with a status
// label repainted at every progress text as the main window's status bar is. Prints the time per
// export and rows per second.
//
// BM_WorkbookAtSheetLimit saves the largest table one sheet holds (1,048,574 rows under the
// header) and prints the seconds it took and the process's peak resident memory; run it on its
// own (--benchmark_filter=SheetLimit) so the other benchmarks do not raise the peak first.
#include "export/SpreadsheetAutomation.h"
#include "export/TextExport.h"
#include "export/WorkbookExport.h"
#include "session/ReadingsModel.h"
#include "support/SessionHub.h"

#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <sys/resource.h>

namespace {

using namespace zelvox;

constexpr int kRows = 100000;

struct RepaintingHub : zelvox::testing::SessionHub {
    QLabel statusPane;
    void Progress(const QString& text) override {
        SessionHub::Progress(text);
        statusPane.setText(text);
        statusPane.repaint();
    }
};

// A table of `rows` rows with a mix of functions, values and overloads.
struct LongTable {
    RepaintingHub hub;
    ReadingsModel& readings = hub.session.Readings();
    QTemporaryDir dir;
    explicit LongTable(int rows = kRows) {
        hub.statusPane.resize(400, 20);
        hub.statusPane.show();
        const std::uint8_t functions[] = {1, 2, 12, 17, 23, 26};
        for (int i = 0; i < rows; ++i) {
            const std::uint8_t function = functions[i % 6];
            const double value = (i % 97 == 0) ? 999999.0 : (i % 2000) * 0.137 - 50.0;
            readings.Append(MakeDispatchedReading(1, readings.NextIndex(), WallTimeAt(i, 0),
                                                  Reading{value, std::uint8_t(i % 4), function}));
        }
    }
    static std::unique_ptr<LongTable>& Instance() {
        static std::unique_ptr<LongTable> instance;
        return instance;
    }
    static LongTable& Get() {
        if (!Instance())
            Instance() = std::make_unique<LongTable>();
        return *Instance();
    }
};

void SetRowCounters(benchmark::State& state) {
    state.counters["rows"] = kRows;
    state.counters["rows_per_s"] =
        benchmark::Counter(double(kRows) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_WorkbookExport(benchmark::State& state) {
    LongTable& t = LongTable::Get();
    const QString chosen = t.dir.filePath(QStringLiteral("run"));
    for (auto _ : state)
        SaveExcelFile(t.hub.session, t.hub.ProgressSink(), nullptr, chosen);
    SetRowCounters(state);
    state.counters["file_kB"] = double(QFileInfo(chosen + QStringLiteral(".xls")).size()) / 1024.0;
    if (t.hub.status[3] != QStringLiteral("save excel file successfully"))
        state.SkipWithError("the export did not succeed");
}

void BM_WorkbookFillOnly(benchmark::State& state) {
    // The cell-by-cell part alone: sheet, formats, 4 x kRows SetItem calls, fitting.
    LongTable& t = LongTable::Get();
    for (auto _ : state) {
        SpreadsheetAutomation excel;
        excel.Open();
        excel.AddSheet(QStringLiteral("KX-NOVA"));
        excel.SetNumberFormat(SpreadsheetAutomation::TextFormat());
        const char letters[] = "ABCD";
        const QString formats[] = {SpreadsheetAutomation::DecimalFormat(0),
                                   SpreadsheetAutomation::DecimalFormat(3),
                                   SpreadsheetAutomation::TextFormat(), SpreadsheetAutomation::TextFormat()};
        for (int c = 0; c < 4; ++c) {
            excel.SelectRange(QStringLiteral("%1%2").arg(letters[c]).arg(2),
                              QStringLiteral("%1%2").arg(letters[c]).arg(kRows + 2));
            excel.SetNumberFormat(formats[c]);
            for (int r = 0; r < kRows; ++r)
                excel.SetItem(r + 1, 1, t.readings.CellText(r, c));
        }
        excel.SelectAllCells();
        excel.AutoFitColumns();
        benchmark::DoNotOptimize(excel);
    }
    SetRowCounters(state);
}

void BM_TextExport(benchmark::State& state) {
    LongTable& t = LongTable::Get();
    const QString chosen = t.dir.filePath(QStringLiteral("run"));
    for (auto _ : state)
        SaveTextFile(t.hub.session, t.hub.ProgressSink(), nullptr, chosen);
    SetRowCounters(state);
    state.counters["file_kB"] = double(QFileInfo(chosen + QStringLiteral(".txt")).size()) / 1024.0;
    if (t.hub.status[3] != QStringLiteral("save txt file successfully"))
        state.SkipWithError("the export did not succeed");
}

long PeakRssKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_WorkbookAtSheetLimit(benchmark::State& state) {
    constexpr int kSheetLimitRows = 1048574; // rows 2 .. 1,048,575, formats to row 1,048,576
    LongTable t(kSheetLimitRows);
    const QString chosen = t.dir.filePath(QStringLiteral("limit"));
    const long rssBefore = PeakRssKilobytes();
    double seconds = 0.0;
    double cpuSeconds = 0.0; // the share of the wall time the export had a core for
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpuStart = std::clock();
        SaveExcelFile(t.hub.session, t.hub.ProgressSink(), nullptr, chosen);
        cpuSeconds = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const long rssAfter = PeakRssKilobytes();
    std::printf("workbook of %d rows: %.2f s (%.2f s of CPU), peak RSS %.1f MB (%.1f MB before the export), "
                "file %.1f MB\n",
                kSheetLimitRows, seconds, cpuSeconds, rssAfter / 1024.0, rssBefore / 1024.0,
                double(QFileInfo(chosen + QStringLiteral(".xls")).size()) / 1048576.0);
    if (const char* keep = std::getenv("ZELVOX_BENCH_KEEP")) // for reading it back afterwards
        QFile::copy(chosen + QStringLiteral(".xls"), QString::fromLocal8Bit(keep));
    state.counters["seconds"] = seconds;
    state.counters["peak_rss_MB"] = rssAfter / 1024.0;
    if (t.hub.status[3] != QStringLiteral("save excel file successfully"))
        state.SkipWithError("the export did not succeed");
}

BENCHMARK(BM_WorkbookExport)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WorkbookFillOnly)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TextExport)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WorkbookAtSheetLimit)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    LongTable::Instance().reset(); // the widgets go before the application object
    return 0;
}
