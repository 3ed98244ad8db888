// Two meters on one time axis in the Run View: sources told apart by what they are, a voltage
// log and a current log read side by side, their power lane, the energy between two cursors an
// hour apart against the readings summed by hand, and the span saved as one table.
#include "panes/RunPlot.h"
#include "panes/RunSourceGroups.h"
#include "panes/RunViewWindow.h"
#include "record/EventsFile.h"
#include "support/RunJournal.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

namespace zelvox {
namespace {

constexpr std::int64_t kStart = 1796726526000;

double Volts(std::int64_t i) {
    return std::round((12 + 0.4 * std::sin(static_cast<double>(i) / 700.0)) * 1000) / 1000;
}
double Milliamps(std::int64_t i) {
    return std::round((480 + 55 * std::cos(static_cast<double>(i) / 3100.0)) * 100) / 100;
}

TEST(ParallelRunView, SourcesAreToldApartByWhatTheyAre) {
    QTemporaryDir dir;
    const auto path = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    QDir().mkpath(path("lab"));
    QDir().mkpath(path("journals"));
    const auto log = [&](const QString& p, std::uint8_t function) {
        testing::WriteOneFunctionLog(p.toStdString(), 3, kStart, 1000, function, 1,
                                     [](std::int64_t) { return 1.5; });
    };
    log(path("a.log"), kDcVolt);
    log(path("b.log"), kDcMilliampere);
    log(path("lab/ttyUSB0.log"), kDcVolt);
    log(path("lab/ttyUSB0.log.1"), kDcVolt);
    log(path("lab/ttyUSB1.log"), kDcMilliampere);
    log(path("journals/2026-12-08T10-42-06.csv"), kDcVolt);
    log(path("journals/2026-12-09T10-42-06.csv"), kDcVolt);
    struct Case {
        QStringList arguments;
        QStringList names;
    } cases[] = {
        {{path("a.log"), path("b.log")}, {"a", "b"}},
        {{path("lab/ttyUSB0.log"), path("lab/ttyUSB0.log.1"), path("lab/ttyUSB0.log.2.gz")}, {"ttyUSB0"}},
        {{path("lab")}, {"ttyUSB0", "ttyUSB1"}},
        {{path("journals")}, {"journals"}},
        {{path("journals/2026-12-08T10-42-06.csv"), path("journals/2026-12-09T10-42-06.csv")}, {"journals"}},
        {{"V=" + path("a.log"), "I=" + path("a.log"), "V=" + path("b.log")}, {"V", "I"}},
    };
    for (const Case& c : cases) {
        QStringList names;
        for (const RunSourceGroup& g : GroupRunSources(c.arguments))
            names << g.name;
        EXPECT_EQ(names, c.names) << c.arguments.join(' ').toStdString();
    }
}

TEST(ParallelRunView, TwoLogsAVoltageAndACurrentGiveThePowerAndItsEnergyOverAnHour) {
    QTemporaryDir dir;
    const QString volts = dir.filePath("bench1.log"), amps = dir.filePath("bench2.log");
    // Two hours: the voltage once a second, the current five times a second on a clock 130 ms on.
    testing::WriteOneFunctionLog(volts.toStdString(), 7200, kStart, 1000, kDcVolt, 1, Volts);
    testing::WriteOneFunctionLog(amps.toStdString(), 36000, kStart + 130, 200, kDcMilliampere, 2, Milliamps);

    RunViewWindow view;
    view.resize(1200, 800);
    view.show();
    view.Open({"V=" + volts, "I=" + amps});
    view.AddPowerLane();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.IsReading(); }, 20000));
    view.BringUpToDate();
    const ParallelRuns* runs = view.Parallel();
    ASSERT_NE(runs, nullptr);
    ASSERT_EQ(runs->SourceCount(), 2u);
    EXPECT_EQ(runs->SourceName(1), "I");
    ASSERT_EQ(runs->DerivedCount(), 1u);
    EXPECT_TRUE(view.windowTitle().startsWith("V, I")) << view.windowTitle().toStdString();
    const RunStore& power = runs->Derived(0).Store();
    EXPECT_EQ(power.Size(), 36000 - 0); // every current reading has a voltage within half a second

    // Cursors an hour apart, the statistics list every lane and the energy of the power lane.
    const std::int64_t a = kStart + 600000, b = a + 3600000;
    view.Plot().SetCursor(0, a);
    view.Plot().SetCursor(1, b);
    const QString text = view.ReadoutText();
    for (const char* lane :
         {"V: DCV V: count 3601", "I: DCA mA: count 18000", "Power (V DCV V \u00D7 I DCA mA): count 18000"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(lane))) << lane << "\n" << text.toStdString();
    const auto shown = QRegularExpression(QStringLiteral("energy (\\S+) W\u00B7h")).match(text);
    ASSERT_TRUE(shown.hasMatch()) << text.toStdString();

    // By hand: each current reading with the voltage of the nearest second, trapezoids within
    // the span.
    long double energy = 0;
    double before = 0;
    for (std::int64_t k = 0; k < 36000; ++k) {
        const std::int64_t ms = kStart + 130 + 200 * k;
        const std::int64_t second = (ms - kStart + 500) / 1000; // the nearest voltage reading
        const double w = Volts(second) * Milliamps(k) * 1e-3;
        if (ms > a && ms - 200 >= a && ms <= b)
            energy += (static_cast<long double>(before) + w) / 2 * 200;
        before = w;
    }
    const double direct = static_cast<double>(energy / 3.6e6L);
    EXPECT_NEAR(shown.captured(1).toDouble(), direct, 5e-8 * direct) << text.toStdString();
    // ... and the charge of the current lane beside it, as before.
    EXPECT_TRUE(text.contains(QString::fromUtf8("charge"))) << text.toStdString();

    // The span as one table on a shared time column: every instant of either source once.
    const QString csv = dir.filePath("span.csv");
    QString why;
    ASSERT_TRUE(view.SaveSpanCsv(csv, &why)) << why.toStdString();
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.first(),
              QString::fromUtf8("DateTime,V: DCV V (V),I: DCA mA (mA),Power (V DCV V \u00D7 I DCA mA) (W)"));
    EXPECT_EQ(lines.size(), 1 + 3601 + 18000);
    const QStringList firstRow = lines[1].split(',');
    ASSERT_EQ(firstRow.size(), 4);
    EXPECT_TRUE(firstRow[0].startsWith("2026-12-08T")) << firstRow[0].toStdString();
    EXPECT_FALSE(firstRow[1].isEmpty()); // the voltage at the cursor's own instant
    EXPECT_TRUE(firstRow[2].isEmpty());

    // Laid over each other from their starts: the second's instants on the first's clock.
    ASSERT_TRUE(view.OverlayLanes(0, 1, false));
    EXPECT_TRUE(view.ReadoutText().contains("Difference of means")) << view.ReadoutText().toStdString();
}

TEST(ParallelRunView, KeysBandsCursorsAndTheTableReachTheSecondSource) {
    QTemporaryDir dir;
    const QString volts = dir.filePath("a.log"), amps = dir.filePath("b.log");
    // The second meter, on a clock 500 ms on and two hours east, overloads once and carries the
    // alarm: firing from its 40th reading to its 50th.
    testing::WriteOneFunctionLog(volts.toStdString(), 100, kStart, 1000, kDcVolt, 1,
                                 [](std::int64_t) { return 1.5; });
    testing::WriteOneFunctionLog(
        amps.toStdString(), 100, kStart + 500, 1000, kDcMilliampere, 1,
        [](std::int64_t i) { return i == 60 ? kOverload : 2.0; }, 7200);
    const auto amp = [](std::int64_t i) { return kStart + 500 + 1000 * i; };
    int error = 0;
    for (const auto& [i, firing] : {std::pair{40, true}, std::pair{50, false}})
        ASSERT_TRUE(AppendEventRow(amps.toStdString(),
                                   EventRow{WallTimeAt(amp(i), 7200), i + 1, "high", firing, "2.000", "mA"},
                                   &error));

    RunViewWindow view;
    view.resize(1200, 800);
    view.show();
    view.Open({"V=" + volts, "I=" + amps});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.IsReading(); }, 20000));
    view.BringUpToDate();
    ASSERT_NE(view.Parallel(), nullptr);
    ASSERT_EQ(view.Parallel()->Source(1).Events().Spans().size(), 1u) << "the second source's events";

    // O and E from before the run: to the second source's overload and event, named by it.
    RunPlot& plot = view.Plot();
    QSignalSpy hover(&plot, &RunPlot::hoverChanged);
    const auto middle = [&] {
        return std::llround(plot.View().startMs + plot.PlotRect().width() / 2 * plot.View().msPerColumn);
    };
    for (const auto& [key, at] : {std::pair{Qt::Key_O, amp(60)}, std::pair{Qt::Key_E, amp(40)}}) {
        plot.ShowSpan(static_cast<double>(kStart - 20000), static_cast<double>(kStart));
        QTest::keyClick(&plot, key);
        EXPECT_NEAR(middle(), at, 1) << "key " << key;
        ASSERT_FALSE(hover.isEmpty());
        EXPECT_TRUE(hover.last().at(0).toString().startsWith("I: "))
            << hover.last().at(0).toString().toStdString();
    }

    // Cursors around the firing span: both meters' values, the current's time outside limits.
    view.Plot().SetCursor(0, kStart + 30000);
    view.Plot().SetCursor(1, kStart + 70000);
    const QString text = view.ReadoutText();
    EXPECT_TRUE(text.contains(QRegularExpression("A [^\\n]* V +\\S+ mA"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QRegularExpression("I: DCA mA: [^\\n]*time outside limits 10\\.000 s")))
        << text.toStdString();

    // The table writes each instant with the offset of the meter that recorded it.
    const QString csv = dir.filePath("span.csv");
    QString why;
    ASSERT_TRUE(view.SaveSpanCsv(csv, &why)) << why.toStdString();
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 3);
    EXPECT_TRUE(lines[1].section(',', 0, 0).endsWith("+01:00")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].section(',', 0, 0).endsWith("+02:00")) << lines[2].toStdString();
}

} // namespace
} // namespace zelvox
