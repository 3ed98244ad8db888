// The assembled program as a desktop shows it: Xvfb with the openbox window manager (started by
// DesktopMain.cpp), a 1024 x 768 or an 800 x 600 screen. Pixels are read back from the screen.
#include "app/MainWindow.h"
#include "app/ZelvoxApplication.h"
#include "decode/FrameEncoder.h"
#include "link/Settings.h"
#include "panes/ControlPanel.h"
#include "panes/GraphExport.h"
#include "panes/NeedleGauge.h"
#include "panes/ReadingsTable.h"
#include "panes/TrendGraph.h"
#include "res/ControlIds.h"
#include "session/MeterSession.h"
#include "session/ReadingsModel.h"
#include "support/Broker.h"
#include "support/EventLoop.h"
#include "support/JournalFiles.h"
#include "support/Pty.h"
#include "support/StatusPanes.h"
#include "support/Tmpfs.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtGui/qguiapplication_platform.h>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <set>
#include <xcb/xcb.h>

using namespace zelvox;
using zelvox::testing::StatusPaneOf;

namespace {

// The frame the window manager put around a window, in screen coordinates.
QRect ManagerFrame(QWidget* window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11->connection();
    xcb_window_t w = static_cast<xcb_window_t>(window->winId());
    for (;;) {
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
        if (!tree)
            return {};
        const bool top = tree->parent == tree->root;
        const xcb_window_t parent = tree->parent;
        std::free(tree);
        if (top)
            break;
        w = parent;
    }
    auto* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr);
    if (!g)
        return {};
    const QRect r(g->x, g->y, g->width + 2 * g->border_width, g->height + 2 * g->border_width);
    std::free(g);
    return r;
}

QRect OnScreen(QWidget* w) {
    return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
}

QImage ScreenPixels(const QRect& r) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, r.x(), r.y(), r.width(), r.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

int ExpectedWidth() {
    return QGuiApplication::primaryScreen()->geometry().width() > 800 ? 930 : 800;
}

// Shown, framed by the window manager and painted.
void WaitFramed(QWidget* window) {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    ASSERT_TRUE(zelvox::testing::WaitUntil([&] { return ManagerFrame(window) != OnScreen(window); }, 5000));
    QTest::qWait(300);
}

QPushButton* Button(QWidget* pane, int id) {
    return pane->findChild<QPushButton*>(QString::number(id));
}

// The program as a user starts it, on a meter at a pseudo-terminal.
struct Program {
    zelvox::testing::Pty meter;
    ZelvoxApplication app;
    MainWindow* window = nullptr;

    void Start(CommandLine options = {}) {
        ASSERT_TRUE(meter.ok());
        options.port = meter.SlavePath();
        ASSERT_TRUE(app.InitInstance(options));
        window = app.Window();
        ASSERT_NE(window, nullptr);
        WaitFramed(window);
    }
    void Click(int id) { QTest::mouseClick(Button(window->PanelPane(), id), Qt::LeftButton); }
    // Readings from the meter, 1.250 and -3.50 in turn, one every 100 ms until done() or rounds.
    void FeedUntil(const std::function<bool()>& done, int rounds) {
        for (int round = 0; round < rounds && !done(); ++round) {
            ASSERT_TRUE(meter.Write(*EncodeReading(round % 2 ? "1.250" : "-3.50", 1)));
            QTest::qWait(100);
        }
    }
};

// A broker of the test's own, and a subscriber to the window's readings on it.
struct DeskBroker {
    zelvox::testing::Broker broker;
    std::unique_ptr<zelvox::testing::Subscriber> sink;
    explicit DeskBroker(const QString& dir) : broker(dir) {}
};

// The program publishing to that broker as "lab/desk"; gone before the broker is.
struct PublishingProgram : DeskBroker, Program {
    using DeskBroker::DeskBroker;
    CommandLine options;

    void Start(const QString& journalDir) {
        std::string why;
        ASSERT_TRUE(broker.Start(&why)) << why;
        sink =
            std::make_unique<zelvox::testing::Subscriber>(broker.Port(), "desktop-sink", "lab/desk/reading");
        ASSERT_TRUE(sink->Start());
        options.journalDir = journalDir;
        options.publishing.url = "mqtt://127.0.0.1:" + std::to_string(broker.Port()) + "/lab/desk";
        PublisherOptions publishing;
        ASSERT_TRUE(MakePublisherOptions(options.publishing, "desktop-test", &publishing, &why)) << why;
        app.PublishTo(publishing);
        ASSERT_NO_FATAL_FAILURE(Program::Start(options));
    }
};

} // namespace

TEST(AssembledWindow, OuterFrameAndEveryPaneWholeOnTheScreen) {
    Program program;
    ASSERT_NO_FATAL_FAILURE(program.Start());
    MainWindow* window = program.window;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();

    const QRect outer = ManagerFrame(window);
    EXPECT_EQ(outer.size(), QSize(ExpectedWidth(), 580)) << "title bar and borders included";
    EXPECT_TRUE(screen.contains(outer)) << outer.x() << "," << outer.y();
    // The frame the manager announced before mapping is the one it drew.
    const QRect client = OnScreen(window);
    EXPECT_EQ(QMargins(client.left() - outer.left(), client.top() - outer.top(),
                       outer.right() - client.right(), outer.bottom() - client.bottom()),
              window->Frame().extents);

    EXPECT_TRUE(screen.contains(OnScreen(window->statusBar())));
    // The graph: its control strip whole, every grid line in its plot rows.
    TrendGraph* graph = window->TrendPane();
    EXPECT_EQ(graph->parentWidget()->width(), 450);
    EXPECT_GE(graph->height(), 270);
    EXPECT_LE(graph->HalfHeight(), 118);
    // The bottom row: the dial and the control panel's buttons whole, on the screen.
    EXPECT_EQ(window->GaugePane()->parentWidget()->width(), 410);
    EXPECT_GE(window->GaugePane()->height(), 208);
    QWidget* panel = window->PanelPane();
    for (int id = 1009; id <= 1012; ++id) {
        QPushButton* button = Button(panel, id);
        ASSERT_NE(button, nullptr) << id;
        EXPECT_TRUE(panel->rect().contains(button->geometry())) << id;
        EXPECT_TRUE(client.contains(OnScreen(button))) << id;
    }
    // The port text of a Linux device is shown whole; the progress pane keeps its 200 pixels.
    QLabel* port = StatusPaneOf(*window, kPortPane);
    EXPECT_EQ(port->text(), program.meter.SlavePath() + ",2400,N,8,1");
    EXPECT_GE(port->width(), port->sizeHint().width());
    EXPECT_GE(StatusPaneOf(*window, kProgressPane)->width(), 200);
}

TEST(AssembledWindow, GraphShowsItsWholeScaleNegativeOverloadsAndExports450Wide) {
    Program program;
    ASSERT_NO_FATAL_FAILURE(program.Start());
    TrendGraph* graph = program.window->TrendPane();
    const QRect plot(graph->mapToGlobal(QPoint(0, 0)), QSize(graph->width(), kPlotRows));

    // Before the first reading: eleven grid lines, the last one carrying "-6.0".
    QImage shot = ScreenPixels(plot);
    std::vector<int> lines;
    for (int y = 0; y < shot.height(); ++y)
        if ((shot.pixel(300, y) & 0xFFFFFF) == 0x0000FF)
            lines.push_back(y);
    ASSERT_EQ(lines.size(), 11u);
    const int bottom = lines.back();
    EXPECT_EQ(bottom, 2 * graph->HalfHeight());
    int ink = 0;
    for (int y = bottom - 6; y < kPlotRows; ++y)
        for (int x = 0; x < 48; ++x)
            ink += qGray(shot.pixel(x, y)) < 100;
    EXPECT_GT(ink, 20) << "the bottom label is missing";

    // A reading, then the meter shows a negative overload: it is drawn on the bottom line.
    program.Click(kStartButton);
    const auto reading = EncodeReading("1.000", 1);
    const auto overload = EncodeReading("-0L", 1);
    ASSERT_TRUE(reading && overload);
    bool drawn = false;
    for (int round = 0; round < 80 && !drawn; ++round) {
        ASSERT_TRUE(program.meter.Write(round < 10 ? *reading : *overload));
        QTest::qWait(100);
        shot = ScreenPixels(plot);
        for (int x = 51; x < graph->width() && !drawn; ++x)
            drawn = (shot.pixel(x, bottom) & 0xFFFFFF) == 0xFF0000;
    }
    EXPECT_TRUE(drawn) << "no negative overload on the bottom line (row " << bottom << ")";
    program.Click(kStopButton);
    QTest::qWait(200);

    // The exported bitmap: the pane's outer width, as the window shows it from the plot's origin.
    const QImage picture = CaptureGraph(*graph);
    ASSERT_EQ(picture.size(), QSize(450, kPlotRows));
    EXPECT_EQ(GraphBitmapFile(picture).size(), 450054);
    const QImage seen = ScreenPixels(QRect(plot.topLeft(), QSize(450, kPlotRows)));
    int differing = 0;
    for (int y = 0; y < kPlotRows; ++y)
        for (int x = 0; x < 450; ++x)
            differing += (picture.pixel(x, y) & 0xFFFFFF) != (seen.pixel(x, y) & 0xFFFFFF);
    EXPECT_EQ(differing, 0);
}

namespace {

// Every place that makes up the layout, in window coordinates, and the outer frame's size.
std::vector<QRect> LayoutOf(MainWindow& window) {
    std::vector<QRect> parts{QRect(QPoint(), ManagerFrame(&window).size()),
                             OnScreen(&window).translated(-ManagerFrame(&window).topLeft())};
    const auto add = [&](QWidget* w) { parts.push_back(QRect(w->mapTo(&window, QPoint(0, 0)), w->size())); };
    add(window.menuBar());
    add(window.statusBar());
    for (QWidget* pane : std::initializer_list<QWidget*>{window.TrendPane(), window.TablePane(),
                                                         window.GaugePane(), window.PanelPane()}) {
        add(pane);
        add(pane->parentWidget());
    }
    for (int id = 1009; id <= 1012; ++id)
        add(Button(window.PanelPane(), id));
    for (int pane = 0; pane < 4; ++pane)
        parts.push_back(QRect(StatusPaneOf(window, pane)->mapTo(&window, QPoint(0, 0)).x(), 0,
                              StatusPaneOf(window, pane)->width(), 1));
    return parts;
}

} // namespace

TEST(AssembledWindow, AnotherStyleKeepsTheLayout) {
    // The layout in each style, the window whole in both.
    const auto layoutIn = [](const QString& style, std::vector<QRect>& parts) {
        QApplication::setStyle(QStyleFactory::create(style));
        Settings settings;
        MainWindow window(settings);
        window.show();
        ASSERT_NO_FATAL_FAILURE(WaitFramed(&window));
        ASSERT_EQ(window.style()->name(), style);
        parts = LayoutOf(window);
        EXPECT_EQ(ManagerFrame(&window).size(), QSize(ExpectedWidth(), 580));
        EXPECT_GE(window.GaugePane()->height(), 208);
    };
    std::vector<QRect> fusion, windows;
    layoutIn(QStringLiteral("fusion"), fusion);
    layoutIn(QStringLiteral("windows"), windows);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("fusion")));
    ASSERT_EQ(fusion.size(), windows.size());
    for (std::size_t i = 0; i < fusion.size(); ++i)
        EXPECT_EQ(fusion[i], windows[i]) << "part " << i;
}

TEST(AssembledWindow, PortSetOpensCentredOnTheMainWindow) {
    Program program;
    ASSERT_NO_FATAL_FAILURE(program.Start());
    QRect dialogClient, dialogFrame;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible() || ManagerFrame(dialog) == OnScreen(dialog))
            return; // not framed yet
        QTest::qWait(100);
        dialogClient = OnScreen(dialog);
        dialogFrame = ManagerFrame(dialog);
        dialog->reject();
    });
    poll.start();
    program.app.OnPortSet();
    ASSERT_TRUE(dialogClient.isValid());
    const QPoint offset = dialogClient.center() - OnScreen(program.window).center();
    EXPECT_LE(std::abs(offset.x()), 1) << offset.x();
    EXPECT_LE(std::abs(offset.y()), 1) << offset.y() << " (frame " << dialogFrame.y() << ")";
}

TEST(AssembledWindow, MenusAnswerWhileALargeJournalLoads) {
    // About 70 MB of journal: long enough to load that the clicks below fall inside the load.
    QTemporaryDir tmp;
    const QString path = tmp.filePath(QStringLiteral("large.csv"));
    ASSERT_TRUE(zelvox::testing::WriteJournal(
        path, 1000000, WallTimeNow().EpochMs(), 250,
        [](int i) {
            return Reading{(i % 3000) * 0.01, 1, 1};
        },
        0));
    ZelvoxApplication app;
    CommandLine options;
    options.journal = false;
    options.load = path;
    ASSERT_TRUE(app.InitInstance(options));
    MainWindow* window = app.Window();
    QMenuBar* bar = window->menuBar();
    ASSERT_FALSE(bar->actions().isEmpty());
    const QPoint menu = bar->actionGeometry(bar->actions().first()).center();

    // A click waits in the queue behind whatever the UI thread is doing, as a click from the
    // X server would; it is answered when the menu is up.
    std::vector<qint64> answeredMs;
    int clicksDuringLoad = 0;
    QElapsedTimer clock;
    clock.start();
    while (window->Session().Loading() && clock.elapsed() < 30000) {
        QElapsedTimer posted;
        posted.start();
        bool up = false;
        const bool loading = window->Session().Loading();
        QMetaObject::invokeMethod(
            window,
            [&] {
                QTest::mouseClick(bar, Qt::LeftButton, {}, menu);
                up = QApplication::activePopupWidget() != nullptr;
                answeredMs.push_back(posted.elapsed());
            },
            Qt::QueuedConnection);
        ASSERT_TRUE(zelvox::testing::WaitUntil([&] { return up; }, 5000));
        clicksDuringLoad += loading && window->Session().Loading();
        QApplication::activePopupWidget()->close();
        QTest::qWait(50);
    }
    ASSERT_FALSE(window->Session().Loading());
    EXPECT_GE(clicksDuringLoad, 3) << "the load ended too soon to tell";
    for (std::size_t i = 0; i < answeredMs.size(); ++i)
        EXPECT_LE(answeredMs[i], 200) << "click " << i;
    EXPECT_EQ(window->Session().Readings().Count(), 1000000);
    EXPECT_TRUE(window->Notices().last().startsWith(QStringLiteral("Loaded 1000000 rows")));
}

TEST(AssembledWindow, StartPublishesEveryRowToABrokerWithTheTablesIndex) {
    QTemporaryDir dir;
    PublishingProgram program(dir.path());
    ASSERT_NO_FATAL_FAILURE(program.Start(dir.filePath(QStringLiteral("journal"))));
    auto& sink = *program.sink;

    program.Click(kStartButton);
    const ReadingsModel& rows = program.window->Session().Readings();
    program.FeedUntil([&] { return rows.Count() >= 4; }, 60);
    program.Click(kStopButton);
    ASSERT_GE(rows.Count(), 4);

    // Every row the table shows arrives once, as the journal holds it (run, Index and texts).
    ASSERT_TRUE(
        sink.WaitFor([&](const auto& m) { return static_cast<int>(m.size()) >= rows.Count(); }, 10000));
    const zelvox::testing::Delivery d =
        zelvox::testing::CountDelivery(program.options.journalDir, sink.Messages());
    EXPECT_TRUE(d.Exact()) << d.Describe();
    EXPECT_EQ(d.delivered, rows.Count());
    const std::string last = sink.Messages().back();
    EXPECT_NE(last.find("\"index\":" + rows.CellText(rows.Count() - 1, 0).toStdString()), std::string::npos)
        << last;
    // The progress pane tells the broker's state once it has settled.
    QLabel* pane = StatusPaneOf(*program.window, kProgressPane);
    using zelvox::testing::WaitUntil;
    EXPECT_TRUE(WaitUntil([&] { return pane->text().startsWith(QLatin1String("broker online")); }, 3000))
        << pane->text().toStdString();
    // The waiting count comes to the truth by itself: nothing waits once all is acknowledged.
    WaitUntil([&] { return pane->text().endsWith(QLatin1String(" 0 readings waiting")); }, 3000);
    EXPECT_EQ(pane->text(), QStringLiteral("broker online, 0 readings waiting"));

    // A broker that holds the connection and answers nothing does not hold the window: it
    // closes at once, and the rows it did not take stay in the journal.
    ::kill(static_cast<pid_t>(program.broker.Pid()), SIGSTOP);
    program.Click(kStartButton);
    const int before = rows.Count();
    program.FeedUntil([&] { return rows.Count() >= before + 2; }, 60);
    QPointer<MainWindow> window = program.window;
    QElapsedTimer closing;
    closing.start();
    window->close();
    while (window && closing.elapsed() < 5000)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    EXPECT_LT(closing.elapsed(), 500) << "the window waited for the publisher";
    ::kill(static_cast<pid_t>(program.broker.Pid()), SIGCONT);
}

// The journal on a small tmpfs filled up under the window: the rows go on to the broker from
// memory and pane 3 says so; once space is back a new journal takes over. Every row of the
// table reaches the broker.
TEST(AssembledWindow, AFullDiskUnderThePublishingWindowLosesNoRowOnTheWayToTheBroker) {
    QTemporaryDir dir;
    const QString journal = dir.filePath(QStringLiteral("journal"));
    zelvox::testing::Tmpfs disk(journal, QStringLiteral("64k"));
    if (!disk.Mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (not root, or no mount in this container)";
    PublishingProgram program(dir.path());
    ASSERT_NO_FATAL_FAILURE(program.Start(journal));
    auto& sink = *program.sink;
    // Full before the first row: the run starts in memory.
    ASSERT_TRUE(disk.Fill());
    program.Click(kStartButton);
    const ReadingsModel& rows = program.window->Session().Readings();
    QLabel* pane = StatusPaneOf(*program.window, kProgressPane);
    program.FeedUntil([&] { return pane->text().contains(QLatin1String("only in memory")); }, 100);
    EXPECT_TRUE(pane->text().contains(QLatin1String("journal off (disk full): ")))
        << pane->text().toStdString();
    const int off = rows.Count();
    program.FeedUntil([&] { return rows.Count() >= off + 10; }, 100);

    ASSERT_TRUE(disk.Free());
    program.FeedUntil([&] { return !pane->text().contains(QLatin1String("journal off")); }, 300);
    EXPECT_FALSE(pane->text().contains(QLatin1String("journal off"))) << pane->text().toStdString();
    program.FeedUntil([] { return false; }, 5);
    program.Click(kStopButton);

    // Every Index of the table, received (repeats dropped).
    std::set<std::string> indexes;
    for (int i = 0; i < rows.Count(); ++i)
        indexes.insert(rows.CellText(i, 0).toStdString());
    const auto received = [](const std::vector<std::string>& messages) {
        std::set<std::string> got;
        for (const std::string& m : messages)
            if (const auto at = m.find("\"index\":"); at != std::string::npos)
                got.insert(m.substr(at + 8, m.find_first_of(",}", at + 8) - at - 8));
        return got;
    };
    sink.WaitFor([&](const auto& m) { return received(m) == indexes; }, 10000);
    std::cout << "window, full disk: " << rows.Count() << " rows, " << received(sink.Messages()).size()
              << " distinct received, " << off << " held in memory when the pane said so\n";
    EXPECT_EQ(received(sink.Messages()), indexes);
    EXPECT_EQ(QDir(journal).entryList({QStringLiteral("*.csv")}, QDir::Files).size(), 1);
}
