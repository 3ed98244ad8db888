// Two meters on one time axis (offscreen platform), printing its figures: two logs of ROWS
// readings each (default 5,000,000: a voltage and a current, 5 a second, the current's clock
// 70 ms off) read side by side into one Run View with their power lane:
//   - the time to the whole picture (both read, the power lane made and drawn);
//   - the bytes a reading all told (the indices, the derived lane; and the growth of the
//     process's resident memory), derived readings counted among the readings;
//   - frames in a 1600 x 900 plot at zoom levels from the whole run down to single readings,
//     panning at each: the 99th percentile and the longest frame per level.
//
//   guibench_parallel [ROWS] [FOLDER]   (the logs are kept in FOLDER when given and reused)
#include "PlotFrames.h"
#include "ProcessCpu.h"
#include "panes/RunPlot.h"
#include "panes/RunViewWindow.h"
#include "support/RunJournal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <vector>

using namespace zelvox;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::int64_t rows = argc > 1 ? std::atoll(argv[1]) : 5'000'000;
    QTemporaryDir temporary;
    const QString folder = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temporary.path();
    const QString volts = folder + QStringLiteral("/V.log"), amps = folder + QStringLiteral("/I.log");
    constexpr std::int64_t kStart = 1796726526000, kPeriod = 200;
    if (!QFileInfo::exists(volts))
        testing::WriteOneFunctionLog(
            volts.toStdString(), rows, kStart, kPeriod, kDcVolt, 1, [](std::int64_t i) {
                return std::round((12 + 0.5 * std::sin(static_cast<double>(i) / 4000.0)) * 1000) / 1000;
            });
    if (!QFileInfo::exists(amps))
        testing::WriteOneFunctionLog(
            amps.toStdString(), rows, kStart + 70, kPeriod, kDcMilliampere, 2, [](std::int64_t i) {
                return std::round((480 + 60 * std::cos(static_cast<double>(i) / 2500.0)) * 100) / 100;
            });

    malloc_trim(0);
    const double rssBefore = bench::ResidentMiB();
    RunViewWindow window;
    window.resize(1600 + 100, 900 + 200);
    window.show();
    QElapsedTimer open;
    open.start();
    window.Open({QStringLiteral("V=") + volts, QStringLiteral("I=") + amps});
    window.AddPowerLane();
    while (window.IsReading())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    window.BringUpToDate();
    window.Plot().repaint();
    const double wholeMs = static_cast<double>(open.nsecsElapsed()) / 1e6;
    malloc_trim(0);
    const ParallelRuns* runs = window.Parallel();
    if (!runs || runs->DerivedCount() != 1) {
        std::printf("no power lane\n");
        return 1;
    }
    const double readings = static_cast<double>(runs->Readings());
    std::printf("two sources of %lld readings and a power lane of %lld: whole picture %.0f ms\n",
                static_cast<long long>(rows), static_cast<long long>(runs->Derived(0).Store().Size()),
                wholeMs);
    std::printf("memory: %.2f bytes/reading held (indices and derived lane), resident growth %.2f "
                "bytes/reading (%.0f readings all told)\n",
                static_cast<double>(runs->MemoryBytes()) / readings,
                (bench::ResidentMiB() - rssBefore) * 1048576.0 / readings, readings);

    RunPlot& plot = window.Plot();
    plot.resize(1600 + 98, 900 + 48);
    QImage image(plot.size(), QImage::Format_RGB32);
    const auto span = runs->Span();
    const double whole = static_cast<double>(span->second - span->first);
    for (double width : {whole, whole / 10, whole / 100, 86400000.0, 3600000.0, 600000.0, 60000.0, 2000.0}) {
        std::vector<double> frames;
        for (int k = 0; k < 40; ++k) {
            const double from = static_cast<double>(span->first) + (whole - width) * k / 39.0;
            plot.ShowSpan(from, from + width);
            frames.push_back(bench::FrameMs(plot, image));
        }
        std::printf("span %12.0f s: frame p99 %.1f ms, longest %.1f ms\n", width / 1000,
                    bench::Percentile(frames, 0.99), *std::max_element(frames.begin(), frames.end()));
    }
    return 0;
}
