// The Run View on a desktop (Xvfb and openbox, DesktopMain.cpp): a journal of a million rows
// viewed alone as `zelvox --view` does, zoomed to its one spike with the mouse, cursors placed
// and the statistics read; the live run of the demo meter followed beside the main window; and
// the log the logger writes followed, gone to an hour through the Go to dialog and printed; two
// meters' logs side by side with their power lane and the energy between two cursors.
#include "app/MainWindow.h"
#include "app/ZelvoxApplication.h"
#include "decode/FunctionCode.h"
#include "journal/JournalFollow.h"
#include "journal/JournalLoader.h"
#include "panes/GraphExport.h"
#include "panes/RunEventsDock.h"
#include "panes/RunPlot.h"
#include "panes/RunViewWindow.h"
#include "panes/TrendGraph.h"
#include "record/EventsFile.h"
#include "runview/Envelope.h"
#include "session/MeterSession.h"
#include "support/ModalWatcher.h"
#include "support/Pictures.h"
#include "support/RunJournal.h"
#include "support/ToolProcess.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

using namespace zelvox;

namespace {

QImage ScreenPixels(QWidget* w) {
    const QPoint at = w->mapToGlobal(QPoint(0, 0));
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, at.x(), at.y(), w->width(), w->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// The rows of column x (in the plot widget) that are drawn dark (the trace), within [top, bottom].
int DarkRows(const QImage& image, int x, int top, int bottom) {
    return zelvox::testing::CountPixels(image, QRect(x, top, 1, bottom - top + 1),
                                        [](QRgb c) { return qGray(c) < 140 && qBlue(c) > qRed(c); });
}

int PlotX(const RunPlot& plot, std::int64_t ms) {
    return plot.PlotRect().left() + static_cast<int>(plot.View().Column(ms));
}

// "max 47.5" -> 47.5 from the readout line of the lane that starts with label.
double Figure(const QString& readout, const QString& label, const QString& name) {
    for (const QString& line : readout.split(QLatin1Char('\n')))
        if (line.startsWith(label)) {
            const int at = line.indexOf(name + QLatin1Char(' '));
            return at < 0 ? NAN : line.mid(at + name.size() + 1).section(QLatin1Char(' '), 0, 0).toDouble();
        }
    return NAN;
}

// Prints view's page to the PDF at path: one page whose text (pdftotext) holds every word, in
// letters a person reads (none over 14 pt).
void ExpectReadablePage(RunViewWindow& view, const QString& path, const QStringList& words) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    EXPECT_EQ(PrintPageFailure(printer, [&](QPainter& p, const QRect& page) { view.PrintPage(p, page); }),
              QString());
    EXPECT_EQ(zelvox::testing::PdfPageCount(path), 1);
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), path, QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(20000));
    const QString page = QString::fromUtf8(text.readAllStandardOutput());
    for (const QString& word : words)
        EXPECT_TRUE(page.contains(word)) << word.toStdString();
    const QRegularExpression box(QStringLiteral(R"re(yMin="([\d.]+)" xMax="[\d.]+" yMax="([\d.]+)")re"));
    int boxes = 0;
    double tallest = 0;
    for (auto m = box.globalMatch(page); m.hasNext(); ++boxes) {
        const auto w = m.next();
        tallest = std::max(tallest, w.captured(2).toDouble() - w.captured(1).toDouble());
    }
    EXPECT_GT(boxes, 30);
    EXPECT_LE(tallest, 14.0);
}

TEST(RunViewDesktop, AMillionRowJournalZoomedToItsSpikeWithCursorsAndStatistics) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    const auto facts = zelvox::testing::WriteRunJournal(path.toStdString(), 1'000'000, 1'000'000);
    ASSERT_EQ(facts.spikeMs.size(), 1u);
    const std::int64_t spike = facts.spikeMs[0];

    // As `zelvox --view PATH` opens it: the Run View alone, maximised on the desktop.
    RunViewWindow view;
    view.showMaximized();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.Open({path});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.IsReading(); }, 40000));
    ASSERT_EQ(view.Index().Size(), 1'000'000);
    QTest::qWait(400);
    EXPECT_GT(view.width(), QGuiApplication::primaryScreen()->availableGeometry().width() * 3 / 4);

    RunPlot& plot = view.Plot();

    // The whole run: the one spike in a million reaches the top of the DCV lane, and only there.
    const QRect area = plot.PlotRect();
    const int lanes = static_cast<int>(view.Index().LaneCount());
    ASSERT_EQ(lanes, 2); // DCV and DCA mA
    const int upper = area.top() + (area.height() / lanes) / 4;
    QImage shown = ScreenPixels(&plot);
    const int spikeX = PlotX(plot, spike);
    EXPECT_GT(DarkRows(shown, spikeX, area.top() + 4, upper), 5) << spikeX;
    for (int dx : {-12, -6, 6, 12})
        EXPECT_EQ(DarkRows(shown, spikeX + dx, area.top() + 4, upper), 0) << dx;

    // Zoom to it with the mouse: bands drawn with the right button around it, then the wheel.
    for (int round = 0; round < 2; ++round) {
        const int x = PlotX(plot, spike);
        const int y = area.center().y();
        QTest::mousePress(&plot, Qt::RightButton, {}, QPoint(x - 20, y));
        QTest::mouseMove(&plot, QPoint(x, y));
        QTest::mouseMove(&plot, QPoint(x + 20, y));
        QTest::mouseRelease(&plot, Qt::RightButton, {}, QPoint(x + 20, y));
    }
    for (int notch = 0; notch < 4; ++notch) {
        const QPointF at(PlotX(plot, spike), area.center().y());
        QWheelEvent wheel(at, plot.mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(&plot, &wheel);
    }
    const double shownMs = plot.View().msPerColumn * area.width();
    EXPECT_LT(shownMs, 600'000) << "ten minutes or less around the spike";
    EXPECT_FALSE(plot.FollowLive()) << "zooming takes the view";

    // Pointing at its top: the hover readout names the spike, not a reading beside it.
    auto* hover = view.findChild<QLabel*>(QStringLiteral("RunHover"));
    QTest::mouseMove(&plot, QPoint(PlotX(plot, spike), area.top() + 12));
    ASSERT_NE(hover, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return hover->text().contains(QStringLiteral("47.500 V")); }, 3000))
        << hover->text().toStdString();
    EXPECT_TRUE(hover->text().contains(QStringLiteral("Index 500778"))) << hover->text().toStdString();

    // Cursors: double clicks 15 readings on either side.
    const int a = PlotX(plot, spike - 3000), b = PlotX(plot, spike + 3000);
    QTest::mouseDClick(&plot, Qt::LeftButton, {}, QPoint(a, area.center().y()));
    QTest::mouseDClick(&plot, Qt::LeftButton, {}, QPoint(b, area.center().y()));
    ASSERT_TRUE(plot.Cursor(0) && plot.Cursor(1));
    QTest::qWait(200);
    const QString readout = view.ReadoutText();
    EXPECT_TRUE(readout.contains(QStringLiteral("Cursor span"))) << readout.toStdString();
    EXPECT_TRUE(readout.contains(QStringLiteral("\u0394t"))) << readout.toStdString();
    // The same readings counted straight from the index's instants.
    std::int64_t count = 0;
    double sum = 0;
    const RunIndex& store = view.Index();
    for (std::int64_t i = 0; i < store.Size(); ++i)
        if (store.Time(i) >= *plot.Cursor(0) && store.Time(i) <= *plot.Cursor(1)) {
            ++count;
            sum += store.Value(i);
        }
    EXPECT_GE(count, 28);
    EXPECT_EQ(Figure(readout, QStringLiteral("DCV V"), QStringLiteral("count")), count);
    EXPECT_EQ(Figure(readout, QStringLiteral("DCV V"), QStringLiteral("max")), 47.5);
    EXPECT_NEAR(Figure(readout, QStringLiteral("DCV V"), QStringLiteral("mean")), sum / count, 1e-6);

    // The picture goes out as SVG and PNG, the span's rows as CSV in the journal's format.
    const QString svg = dir.filePath(QStringLiteral("span.svg")),
                  png = dir.filePath(QStringLiteral("span.png"));
    ASSERT_TRUE(view.SaveSvg(svg));
    ASSERT_TRUE(view.SavePng(png));
    EXPECT_TRUE(QSvgRenderer(svg).isValid());
    EXPECT_EQ(QImage(png).width(), plot.width());
    EXPECT_GT(QImage(png).height(), plot.height()); // the title and the statistics too
    // The page's text: the title (source and span) and the statistics, no letter over 14 pt.
    ExpectReadablePage(view, dir.filePath(QStringLiteral("span.pdf")),
                       {QStringLiteral("run.csv"), QStringLiteral("Cursor"), QStringLiteral("count"),
                        QStringLiteral("mean"), QStringLiteral("DCV")});
    QString why;
    ASSERT_TRUE(view.SaveSpanCsv(dir.filePath(QStringLiteral("span.csv")), &why)) << why.toStdString();
    const LoadedJournal back = LoadJournal(dir.filePath(QStringLiteral("span.csv")));
    EXPECT_EQ(back.rows.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(back.damaged, 0);

    // Go to a typed hour of the run's local time: the span's count is that hour's rows.
    const QDateTime second = view.ToLocal(facts.firstMs + 2 * 3600000);
    const QDateTime hour(second.date(), QTime(second.time().hour(), 0));
    const std::int64_t from = view.FromLocal(hour), to = view.FromLocal(hour.addSecs(3600));
    EXPECT_EQ(to - from, 3600000);
    plot.ClearCursors();
    view.GoTo(RunViewWindow::GoToTarget::kSpan, from, to);
    std::int64_t inHour = 0;
    for (std::int64_t i = view.Index().LowerBound(from); i < view.Index().Size() && view.Index().Time(i) < to;
         ++i)
        inHour += view.Index().FunctionOf(i) == kDcVolt;
    EXPECT_GT(inHour, 1000);
    EXPECT_EQ(Figure(view.ReadoutText(), QStringLiteral("DCV V"), QStringLiteral("count")), inHour);

    // Fit all brings the whole run back.
    plot.FitAll();
    EXPECT_LE(plot.View().startMs, static_cast<double>(facts.firstMs));
    EXPECT_GE(plot.View().Ms(area.width()), static_cast<double>(facts.lastMs));
}

// A voltage once a second and a current five times a second, rounded as the meters show them.
double Volts(std::int64_t i) {
    return std::round((12 + 0.4 * std::sin(static_cast<double>(i) / 700.0)) * 1000) / 1000;
}
double Milliamps(std::int64_t i) {
    return std::round((480 + 55 * std::cos(static_cast<double>(i) / 3100.0)) * 100) / 100;
}

TEST(RunViewDesktop, TwoMetersLogsTheirPowerLaneAndTheEnergyBetweenCursorsAnHourApart) {
    QTemporaryDir dir;
    const QString volts = dir.filePath(QStringLiteral("bench1.log")),
                  amps = dir.filePath(QStringLiteral("bench2.log"));
    // Two hours, the current on a clock 130 ms on and two hours east; its alarm fired from minute
    // 30 to minute 40, and it overloaded once at minute 100.
    constexpr std::int64_t kStart = 1796726526000, kOverloadAt = 30000;
    zelvox::testing::WriteOneFunctionLog(volts.toStdString(), 7200, kStart, 1000, kDcVolt, 1, Volts);
    zelvox::testing::WriteOneFunctionLog(
        amps.toStdString(), 36000, kStart + 130, 200, kDcMilliampere, 2,
        [](std::int64_t k) { return k == kOverloadAt ? kOverload : Milliamps(k); }, 7200);
    const auto amp = [](std::int64_t k) { return kStart + 130 + 200 * k; };
    int error = 0;
    for (const auto& [k, firing] : {std::pair{9000, true}, std::pair{12000, false}})
        ASSERT_TRUE(AppendEventRow(amps.toStdString(),
                                   EventRow{WallTimeAt(amp(k), 7200), k + 1, "low", firing, "430.00", "mA"},
                                   &error));

    // As `zelvox --view V=bench1.log I=bench2.log` opens them, the power lane from the Lanes menu.
    RunViewWindow view;
    view.showMaximized();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.Open({QStringLiteral("V=") + volts, QStringLiteral("I=") + amps});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.IsReading(); }, 20000));
    QAction* power = nullptr;
    for (QAction* action : view.findChildren<QAction*>())
        if (action->text() == QStringLiteral("Add Power Lane"))
            power = action;
    ASSERT_NE(power, nullptr);
    power->trigger();
    view.BringUpToDate();
    const ParallelRuns* runs = view.Parallel();
    ASSERT_NE(runs, nullptr);
    ASSERT_EQ(runs->DerivedCount(), 1u);
    EXPECT_TRUE(view.windowTitle().startsWith(QStringLiteral("V, I"))) << view.windowTitle().toStdString();
    // Every current reading has a voltage within 0.5 s; the overload is a gap.
    EXPECT_EQ(runs->Derived(0).Store().Size(), 36000 - 1);
    // The second meter's events, listed and named by it.
    ASSERT_EQ(view.Events().Count(), 2);
    EXPECT_TRUE(
        view.Events().List().model()->index(0, 0).data().toString().startsWith(QStringLiteral("I: ")));
    QTest::qWait(300);

    // The whole run: the alarm's span is a band on the current's lane alone, none beside it.
    RunPlot& plot = view.Plot();
    const QRect area = plot.PlotRect();
    const QImage shown = ScreenPixels(&plot);
    const auto pink = [&](int x, int lane) {
        return zelvox::testing::CountPixels(
            shown, QRect(x, area.top() + lane * area.height() / 3 + 6, 1, area.height() / 3 - 12),
            [](QRgb c) { return qRed(c) > 200 && qRed(c) > qGreen(c) + 20; });
    };
    const int band = PlotX(plot, amp(10500));
    EXPECT_GT(pink(band, 1), area.height() / 6) << "the current's lane";
    EXPECT_EQ(pink(band, 0) + pink(band, 2), 0) << "the voltage's and the power's lanes";
    EXPECT_EQ(pink(PlotX(plot, amp(6000)), 1), 0) << "before the alarm";

    // Cursors by double clicks an hour apart: every lane counted, the power lane's energy.
    const int y = area.top() + area.height() / 6;
    QTest::mouseDClick(&plot, Qt::LeftButton, {}, QPoint(PlotX(plot, kStart + 600000), y));
    QTest::mouseDClick(&plot, Qt::LeftButton, {}, QPoint(PlotX(plot, kStart + 4200000), y));
    ASSERT_TRUE(plot.Cursor(0) && plot.Cursor(1));
    const std::int64_t a = *plot.Cursor(0), b = *plot.Cursor(1);
    EXPECT_NEAR(static_cast<double>(b - a), 3600000.0, 2 * plot.View().msPerColumn + 1000);
    const QString text = view.ReadoutText();
    const auto shownEnergy = QRegularExpression(QStringLiteral("energy (\\S+) W\u00B7h")).match(text);
    ASSERT_TRUE(shownEnergy.hasMatch()) << text.toStdString();
    // By hand: each current reading with the voltage of the nearest second, trapezoids within
    // the span; the readings of each meter counted within it.
    long double energy = 0;
    double before = 0;
    std::int64_t currents = 0;
    for (std::int64_t k = 0; k < 36000; ++k) {
        const std::int64_t ms = amp(k);
        const double w = Volts((ms - kStart + 500) / 1000) * Milliamps(k) * 1e-3;
        if (ms - 200 >= a && ms <= b)
            energy += (static_cast<long double>(before) + w) / 2 * 200;
        currents += ms >= a && ms <= b;
        before = w;
    }
    const double direct = static_cast<double>(energy / 3.6e6L);
    EXPECT_NEAR(shownEnergy.captured(1).toDouble(), direct, 5e-8 * direct) << text.toStdString();
    EXPECT_EQ(Figure(text, QStringLiteral("I: DCA mA"), QStringLiteral("count")), currents)
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("charge"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("time outside limits 00:10:00.000"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("A [^\\n]* V +\\S+ mA"))))
        << text.toStdString();

    // The span as one table on a shared time column: every instant of either meter once.
    QString why;
    ASSERT_TRUE(view.SaveSpanCsv(dir.filePath(QStringLiteral("span.csv")), &why)) << why.toStdString();
    QFile file(dir.filePath(QStringLiteral("span.csv")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(lines.first(),
              QString::fromUtf8("DateTime,V: DCV V (V),I: DCA mA (mA),Power (V DCV V \u00D7 I DCA mA) (W)"));
    const std::int64_t voltages = (b - kStart) / 1000 - (a - kStart + 999) / 1000 + 1;
    EXPECT_EQ(lines.size(), 1 + voltages + currents);
    // Each instant with the UTC offset of the meter that recorded it.
    for (const QString& line : lines.mid(1))
        ASSERT_TRUE(line.section(QLatin1Char(','), 0, 0)
                        .endsWith(line.section(QLatin1Char(','), 1, 1).isEmpty() ? QStringLiteral("+02:00")
                                                                                 : QStringLiteral("+01:00")))
            << line.toStdString();

    // O and E from before the run: to the second meter's overload and its first event.
    QSignalSpy hover(&plot, &RunPlot::hoverChanged);
    for (const auto& [key, at] : {std::pair{Qt::Key_O, amp(kOverloadAt)}, std::pair{Qt::Key_E, amp(9000)}}) {
        plot.ShowSpan(static_cast<double>(kStart - 20000), static_cast<double>(kStart));
        QTest::keyClick(&plot, key);
        EXPECT_NEAR(plot.View().startMs + area.width() / 2.0 * plot.View().msPerColumn,
                    static_cast<double>(at), 1);
        ASSERT_FALSE(hover.isEmpty());
        EXPECT_TRUE(hover.last().at(0).toString().startsWith(QStringLiteral("I: ")));
    }

    // Laid over each other from their starts: the comparison of the two spans.
    ASSERT_TRUE(view.OverlayLanes(0, 1, false));
    EXPECT_TRUE(view.ReadoutText().contains(QStringLiteral("Difference of means")))
        << view.ReadoutText().toStdString();
}

TEST(RunViewDesktop, FollowsTheDemoMetersLiveRunBesideTheMainWindow) {
    ZelvoxApplication app;
    CommandLine options;
    options.demo = true;
    options.journal = false;
    ASSERT_TRUE(app.InitInstance(options));
    MainWindow* window = app.Window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    ASSERT_EQ(window->Session().Start().status, StartStatus::Started);
    // Readings before the Run View opens are in it too.
    QTest::qWait(1200);

    // A double click on the trend graph opens it.
    QTest::mouseDClick(window->TrendPane(), Qt::LeftButton, {}, window->TrendPane()->rect().center());
    RunViewWindow* view = nullptr;
    const auto shownRunView = [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if ((view = qobject_cast<RunViewWindow*>(w)) && w->isVisible())
                return true;
        return false;
    };
    ASSERT_TRUE(QTest::qWaitFor(shownRunView, 3000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    EXPECT_NE(view->window(), window->window());
    // Beside the main window, not on it, where the screen has room for it.
    const QRect screen = window->screen()->availableGeometry(), main = window->frameGeometry();
    if (std::max(screen.right() - main.right(), main.left() - screen.left()) >= 480) {
        EXPECT_FALSE(view->frameGeometry().intersects(main));
    }
    const std::int64_t before = view->Index().Size();
    EXPECT_GE(before, 1);
    // It follows: the newest reading comes into sight within a second, as more come.
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->Index().Size() >= before + 3; }, 5000));
    RunPlot& plot = view->Plot();
    EXPECT_TRUE(plot.FollowLive());
    const RunIndex& store = view->Index();
    const std::int64_t newest = store.Time(store.Size() - 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return plot.View().Column(newest) < plot.PlotRect().width(); }, 1500));
    EXPECT_GE(plot.View().Column(newest), 0);
    // Panning away stops following; End takes it up again.
    QTest::keyClick(&plot, Qt::Key_Left);
    EXPECT_FALSE(plot.FollowLive());
    QTest::keyClick(&plot, Qt::Key_End);
    EXPECT_TRUE(plot.FollowLive());
    const QString readout = view->ReadoutText();
    EXPECT_TRUE(readout.contains(QStringLiteral("count"))) << readout.toStdString();
    // The menu command shows the same window, and it goes with the main window.
    window->Command(kCmdRunView)->trigger();
    EXPECT_EQ(QApplication::activeWindow(), view);
    QPointer<RunViewWindow> watch(view);
    window->Session().Stop();
    window->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return watch.isNull(); }, 3000));
}

} // namespace

namespace {

TEST(RunViewDesktop, FollowsTheLoggersGrowingLogGoesToATypedHourAndPrintsAReadablePage) {
    if (!zelvox::testing::ToolsBuilt())
        GTEST_SKIP() << "zelvox-sim and zelvox-decode are not built";
    // Three hours of a meter's rows, ending hours ago; the logger then appends today's.
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("ttyUSB0.log"));
    const std::int64_t startMs = (QDateTime::currentMSecsSinceEpoch() / 3600000 - 6) * 3600000 + 1234;
    const auto facts = zelvox::testing::WriteRunJournal(log.toStdString(), 3 * 3600 * 5, 0, startMs);
    RunViewWindow view;
    view.showMaximized();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.Open({log});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.IsReading(); }, 20000));
    const std::int64_t generated = view.Index().Size();
    EXPECT_EQ(generated, 3 * 3600 * 5);

    // zelvox-decode reads the simulated meter on its pty and appends its CSV rows to the log.
    QProcess sim, decode;
    const QString port = zelvox::testing::StartSim(sim);
    ASSERT_FALSE(port.isEmpty());
    decode.setStandardOutputFile(log, QIODevice::Append);
    decode.start(zelvox::testing::Tool("zelvox-decode"),
                 {QStringLiteral("--port"), port, QStringLiteral("--format"), QStringLiteral("csv")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.Index().Size() >= generated + 24; }, 15000))
        << view.Index().Size() - generated;
    zelvox::testing::EndProcess(decode);
    zelvox::testing::EndProcess(sim);
    // Every row the file holds is drawn once, the newest in sight.
    const LoadedJournal written = LoadJournal(log);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return view.Index().Size() == static_cast<std::int64_t>(written.rows.size()); }, 3000));
    QTest::qWait(2 * JournalFollow::kPollMs + 100);
    EXPECT_EQ(view.Index().Size(), static_cast<std::int64_t>(written.rows.size()));
    RunPlot& plot = view.Plot();
    EXPECT_TRUE(plot.FollowLive());
    EXPECT_LT(plot.View().Column(view.Index().Time(view.Index().Size() - 1)), plot.PlotRect().width());

    // Go to the run's second hour, typed into the Go to dialog as a start and a duration.
    const QDateTime second = view.ToLocal(facts.firstMs + 3600000);
    const QDateTime hour(second.date(), QTime(second.time().hour(), 0));
    zelvox::testing::ModalWatcher watcher;
    bool answered = false;
    watcher.onOtherModal = [&](QWidget* modal) {
        if (answered)
            return;
        answered = true;
        auto* from = modal->findChildren<QDateTimeEdit*>().value(0);
        auto* byDuration = modal->findChild<QCheckBox*>();
        ASSERT_TRUE(from && byDuration);
        from->setFocus();
        from->setSelectedSection(QDateTimeEdit::YearSection);
        // Each section takes its digits and hands on to the next, as a user types them.
        QTest::keyClicks(from, hour.toString(QStringLiteral("yyyyMMddHHmmsszzz")));
        byDuration->setChecked(true);
        modal->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    };
    QAction* goTo = nullptr;
    for (QAction* a : view.findChildren<QAction*>())
        if (a->text() == QStringLiteral("Go to..."))
            goTo = a;
    ASSERT_NE(goTo, nullptr);
    goTo->trigger();
    ASSERT_TRUE(answered);
    // The statistics count the rows the file holds for that hour.
    const std::int64_t from = view.FromLocal(hour), to = from + 3600000;
    std::int64_t inHour = 0;
    for (const JournalRow& r : written.rows)
        inHour += r.at.EpochMs() >= from && r.at.EpochMs() < to;
    EXPECT_GT(inHour, 17000);
    QTest::qWait(300);
    EXPECT_EQ(Figure(view.ReadoutText(), QStringLiteral("DCV V"), QStringLiteral("count")), inHour)
        << view.ReadoutText().toStdString();

    // Printed to PDF: one page with the title and the statistics, no letter over 14 pt.
    ExpectReadablePage(view, dir.filePath(QStringLiteral("hour.pdf")),
                       {QStringLiteral("ttyUSB0.log"), QStringLiteral("count"), QStringLiteral("mean"),
                        QStringLiteral("DCV"), QString::number(inHour)});
}

} // namespace
