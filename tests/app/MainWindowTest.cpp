// The main window: layout in both screen widths, menus, status bar, start-up port text.
#include "app/MainWindow.h"
#include "app/MainLayout.h"
#include "app/ZelvoxApplication.h"
#include "link/Settings.h"
#include "panes/ControlPanel.h"
#include "panes/NeedleGauge.h"
#include "panes/ReadingsTable.h"
#include "panes/ScreenMetrics.h"
#include "panes/TrendGraph.h"
#include "support/EventLoop.h"
#include "support/StatusPanes.h"

#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTest>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

using namespace zelvox;
using zelvox::testing::StatusPaneOf;

namespace {

QRect OuterRect(QWidget* pane) {
    // The cell around a pane: the pane's border frame, in central-widget coordinates.
    return pane->parentWidget()->geometry();
}

} // namespace

TEST(MainLayout, TopRowFollowsClientHeightImageAndCaption) {
    // A client height of 520 under the menu bar with a 208-pixel layout image and a 23-pixel
    // caption: the top row is 279.
    const WindowFrame frame{QMargins(4, 40, 4, 0), 23};
    const MainLayout l = ComputeMainLayout(1024, frame, 20, 16, QSize(410, 208));
    EXPECT_EQ(l.window, QSize(930, 580));
    EXPECT_EQ(l.client, QSize(922, 540));
    EXPECT_EQ(l.topRowHeight, 279);
    EXPECT_EQ(l.graphCell, QRect(0, 0, 450, 279));
    EXPECT_EQ(l.gaugeCell.width(), 410);
    EXPECT_EQ(l.gaugeCell.top(), 279 + kSplitterGap);
    EXPECT_EQ(l.gaugeCell.bottom(), 540 - 20 - 16 - 1);
    EXPECT_EQ(l.dataCell.right(), 921);
    EXPECT_EQ(l.panelCell.right(), 921);
}

TEST(MainLayout, GraphAndBottomRowStayWholeWhateverTheFrame) {
    // From no caption to a tall one (39): the graph keeps its control strip and all eleven
    // grid lines, the bottom row the dial and the panel's buttons.
    for (int caption = 0; caption <= 39; caption += 3) {
        SCOPED_TRACE(caption);
        const MainLayout l = ComputeMainLayout(1024, WindowFrame{QMargins(1, caption + 1, 1, 1), caption}, 20,
                                               22, QSize(410, 208));
        const int graphRows = l.graphCell.height() - 2 * kPaneBorder;
        EXPECT_GE(graphRows, 270);
        EXPECT_LE(graphRows * 9 / 11 / 2, 118) << "halfHeight";
        EXPECT_GE(l.gaugeCell.height() - 2 * kPaneBorder, 212);
        EXPECT_EQ(l.gaugeCell.bottom(), l.CentralSize().height() - 1);
    }
    // The nominal frame: a top row near the 279 of a 520-pixel client.
    const MainLayout nominal = ComputeMainLayout(1024, kNominalFrame, 20, 22, QSize(410, 208));
    EXPECT_EQ(nominal.client, QSize(922, 549));
    EXPECT_EQ(nominal.topRowHeight, 284);
}

TEST(MainLayout, WindowWidthSwitchesAbove800) {
    EXPECT_EQ(MainWindowWidth(800), 800);
    EXPECT_EQ(MainWindowWidth(801), 930);
    EXPECT_EQ(MainWindowWidth(640), 800);
    const MainLayout narrow = ComputeMainLayout(800, kNominalFrame, 20, 22, QSize(410, 208));
    EXPECT_EQ(narrow.window, QSize(800, 580));
    EXPECT_EQ(narrow.client, QSize(792, 549));
    EXPECT_EQ(narrow.dataCell.right(), 791);
}

class MainWindowTest : public ::testing::TestWithParam<int> {};

TEST_P(MainWindowTest, FixedGeometryOfWindowAndPanes) {
    Settings settings;
    auto frame = std::make_unique<MainWindow>(settings, GetParam());
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));

    // No window manager here: the window is laid out inside the nominal frame.
    const int outer = GetParam() > 800 ? 930 : 800;
    const int width = outer - 8;
    EXPECT_EQ(frame->Frame(), kNominalFrame);
    EXPECT_EQ(frame->size(), QSize(width, 549));
    EXPECT_EQ(frame->minimumSize(), frame->maximumSize()) << "the window must not be resizable";
    EXPECT_FALSE(frame->windowFlags() & Qt::WindowMaximizeButtonHint);

    EXPECT_EQ(OuterRect(frame->TrendPane()).width(), 450);
    EXPECT_EQ(OuterRect(frame->GaugePane()).width(), 410);
    EXPECT_EQ(OuterRect(frame->TrendPane()).height(), frame->Layout().topRowHeight);
    EXPECT_EQ(OuterRect(frame->TablePane()).right(), width - 1);
    EXPECT_EQ(OuterRect(frame->PanelPane()).right(), width - 1);
    // The panes fill their cells inside a 2-pixel border.
    EXPECT_EQ(frame->TrendPane()->width(), 450 - 2 * kPaneBorder);
    EXPECT_EQ(frame->GaugePane()->width(), 410 - 2 * kPaneBorder);
    // The bottom row holds the dial and the control panel's buttons whole.
    EXPECT_GE(frame->GaugePane()->height(), 208);
    for (int id = 1009; id <= 1012; ++id) {
        auto* button = frame->PanelPane()->findChild<QWidget*>(QString::number(id));
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(frame->PanelPane()->rect().contains(button->geometry())) << id;
    }
    // Every grid line and label of the graph falls in its 250 plot rows.
    EXPECT_LE(frame->TrendPane()->HalfHeight(), 118);
    // The bottom row ends above the status bar.
    const QRect central = frame->centralWidget()->geometry();
    EXPECT_LE(central.bottom(), frame->statusBar()->geometry().top());
}

INSTANTIATE_TEST_SUITE_P(ScreenWidths, MainWindowTest, ::testing::Values(800, 801, 1920));

TEST(MainWindow, MenuBarHoldsTheCommandsInOrder) {
    Settings settings;
    MainWindow frame(settings);
    const QList<QAction*> menus = frame.menuBar()->actions();
    ASSERT_EQ(menus.size(), 4);
    EXPECT_EQ(menus[0]->text(), "&File");
    EXPECT_EQ(menus[1]->text(), "SET");
    EXPECT_EQ(menus[2]->text(), "VIEW");
    EXPECT_EQ(menus[3]->text(), "HELP");

    QStringList file;
    for (QAction* a : menus[0]->menu()->actions())
        file << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(file, (QStringList{"SAVE EXCEL FILE", "SAVE TEXT FILE", "Export Graph", "-", "E&xit"}));
    EXPECT_EQ(menus[1]->menu()->actions().value(0)->text(), "PORT SET");
    EXPECT_EQ(menus[2]->menu()->actions().value(0)->text(), "Run View");
    EXPECT_EQ(menus[2]->menu()->actions().value(0)->shortcut(), QKeySequence(QStringLiteral("Ctrl+R")));
    EXPECT_EQ(menus[3]->menu()->actions().value(0)->text(), "HelpTopic");

    const std::pair<int, const char*> ids[] = {
        {kCmdSaveExcel, "SAVE EXCEL FILE"}, {kCmdSaveText, "SAVE TEXT FILE"},
        {kCmdExportGraph, "Export Graph"},  {kCmdExit, "E&xit"},
        {kCmdPortSet, "PORT SET"},          {kCmdHelpTopic, "HelpTopic"},
        {kCmdRunView, "Run View"}};
    for (const auto& [id, label] : ids) {
        QAction* action = frame.Command(id);
        ASSERT_NE(action, nullptr) << label;
        EXPECT_EQ(action->text(), label);
        EXPECT_TRUE(action->isEnabled());
    }
}

TEST(MainWindow, StatusBarPanesAndClock) {
    Settings settings;
    MainWindow frame(settings);
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    EXPECT_EQ(StatusPaneOf(frame, kPromptPane)->width(), 50);
    EXPECT_EQ(StatusPaneOf(frame, kClockPane)->width(), 160);
    EXPECT_EQ(StatusPaneOf(frame, kPortPane)->width(), 125);
    EXPECT_GE(StatusPaneOf(frame, kProgressPane)->width(), 200);

    EXPECT_TRUE(frame.StatusText(kClockPane).isEmpty()) << "the clock shows nothing before its first tick";
    ASSERT_TRUE(zelvox::testing::WaitUntil([&] { return !frame.StatusText(kClockPane).isEmpty(); }, 2500));
    static const QRegularExpression clock(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
    EXPECT_TRUE(clock.match(frame.StatusText(kClockPane)).hasMatch())
        << frame.StatusText(kClockPane).toStdString();

    frame.SetStatusText(kProgressPane, QStringLiteral("save txt file successfully"));
    EXPECT_EQ(StatusPaneOf(frame, kProgressPane)->text(), "save txt file successfully");
}

TEST(MainWindow, PortPaneWidensForTheWholePortText) {
    Settings settings;
    MainWindow frame(settings, 800);
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    QLabel* port = StatusPaneOf(frame, kPortPane);
    frame.SetStatusText(kPortPane, QStringLiteral("COM3,2400,N,8,1"));
    EXPECT_EQ(port->width(), 125);
    for (const char* text : {"ttyACM10,2400,N,8,1", "/dev/pts/4,2400,N,8,1",
                             "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0,2400,N,8,1"}) {
        SCOPED_TRACE(text);
        frame.SetStatusText(kPortPane, QString::fromLatin1(text));
        QApplication::processEvents();
        EXPECT_GE(port->width(), 125);
        if (std::strlen(text) < 30) {
            EXPECT_GE(port->width(), port->sizeHint().width()) << "the text is cut";
        }
        EXPECT_GE(StatusPaneOf(frame, kProgressPane)->width(), 200);
        EXPECT_LE(StatusPaneOf(frame, kProgressPane)->geometry().right(), frame.statusBar()->width());
    }
    // PORT SET chooses a short name again: the pane is back to its own width.
    frame.SetStatusText(kPortPane, QStringLiteral("ttyS0,2400,N,8,1"));
    QApplication::processEvents();
    EXPECT_EQ(port->width(), 125);
}

TEST(MainWindow, GraphButtonHintsFitTheFirstPane) {
    Settings settings;
    MainWindow frame(settings);
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    QLabel* first = StatusPaneOf(frame, kPromptPane);
    const std::pair<int, const char*> buttons[] = {
        {1000, "save graph as bitmap"}, {1018, "print graph"}, {1022, "first page"},
        {1019, "previous page"},        {1020, "next page"},   {1021, "last page"}};
    for (const auto& [id, name] : buttons) {
        auto* button = frame.TrendPane()->findChild<QWidget*>(QString::number(id));
        ASSERT_NE(button, nullptr) << id;
        EXPECT_EQ(button->toolTip(), name);
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(button, &enter);
        const QString hint = frame.StatusText(kPromptPane);
        EXPECT_FALSE(hint.isEmpty()) << id;
        EXPECT_LE(first->fontMetrics().horizontalAdvance(hint), first->contentsRect().width())
            << hint.toStdString();
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(button, &leave);
        EXPECT_TRUE(frame.StatusText(kPromptPane).isEmpty());
    }
}

TEST(MainWindow, MenuPromptGoesToFirstPane) {
    Settings settings;
    MainWindow frame(settings);
    QStatusTipEvent tip(QStringLiteral("Quit the application; prompts to save documents"));
    QApplication::sendEvent(&frame, &tip);
    EXPECT_EQ(frame.StatusText(kPromptPane), "Quit the application; prompts to save documents");
    EXPECT_TRUE(frame.statusBar()->currentMessage().isEmpty());
    QStatusTipEvent none{QString()};
    QApplication::sendEvent(&frame, &none);
    EXPECT_EQ(frame.StatusText(kPromptPane), "Ready");
}
