// Two meters on one time axis in the Run View: sources told apart by what they are, and the
// second source's overload, alarm span and offsets reached by the keys, the readout and the
// saved table (the power lane on a desktop: tests/app/desktop/RunViewDesktopTest.cpp).
#include "panes/RunEventsDock.h"
#include "panes/RunPlot.h"
#include "panes/RunSourceGroups.h"
#include "panes/RunViewWindow.h"
#include "record/EventsFile.h"
#include "support/RunJournal.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListView>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

namespace zelvox {
namespace {

constexpr std::int64_t kStart = 1796726526000;

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
    const QAbstractItemModel& listed = *view.Events().List().model();
    ASSERT_EQ(listed.rowCount(), 2) << "the events list names them";
    EXPECT_TRUE(listed.index(0, 0).data().toString().startsWith("I: "))
        << listed.index(0, 0).data().toString().toStdString();

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
