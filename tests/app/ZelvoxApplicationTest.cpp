// The application as a user drives it: start-up port, START on a real pseudo-terminal,
// failures shown in message boxes, and closing the window while acquisition runs.
#include "app/ZelvoxApplication.h"
#include "alarm/AlarmRule.h"
#include "app/MainWindow.h"
#include "decode/FrameEncoder.h"
#include "decode/FunctionCode.h"
#include "journal/RecordKeeper.h"
#include "panes/ControlPanel.h"
#include "panes/ReadingsTable.h"
#include "res/ControlIds.h"
#include "runview/RunIndex.h"
#include "session/MeterSession.h"
#include "support/EventLoop.h"
#include "support/ModalWatcher.h"
#include "support/Pty.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace zelvox;

namespace {

QPushButton* Button(MainWindow* frame, int id) {
    return frame->PanelPane()->findChild<QPushButton*>(QString::number(id));
}

bool FeedUntilRows(zelvox::testing::Pty& pty, MainWindow* frame, int rows) {
    const Frame f = *EncodeReading("1.234", kDcVolt);
    QElapsedTimer t;
    t.start();
    while (frame->TablePane()->RowCount() < rows && t.elapsed() < 5000) {
        pty.Write(f);
        QTest::qWait(20);
    }
    return frame->TablePane()->RowCount() >= rows;
}

// The program started on a pseudo-terminal port, with START pressed.
struct RunningOnPty {
    zelvox::testing::Pty pty;
    ZelvoxApplication app;

    bool Start() {
        if (!pty.ok())
            return false;
        CommandLine options;
        options.port = pty.SlavePath();
        if (!app.InitInstance(options))
            return false;
        Button(app.Window(), kStartButton)->click();
        return app.Window()->Session().IsRunning();
    }
};

} // namespace

TEST(App, PortOnCommandLineIsChosenAtStartUp) {
    ZelvoxApplication app;
    CommandLine options;
    options.port = QStringLiteral("/dev/zelvox-test-none");
    ASSERT_TRUE(app.InitInstance(options));
    EXPECT_EQ(app.AppSettings().portName, "/dev/zelvox-test-none");
    EXPECT_EQ(app.AppSettings().samplingRate, 120);
    EXPECT_EQ(app.AppSettings().portIndex, 0);
    EXPECT_EQ(app.Window()->StatusText(kPortPane), "/dev/zelvox-test-none,2400,N,8,1");
    EXPECT_EQ(app.Window()->windowTitle(), "Zelvox");
}

TEST(App, StartOnMissingDeviceShowsOpenPortErrorAndStaysIdle) {
    ZelvoxApplication app;
    CommandLine options;
    options.port = QStringLiteral("/dev/zelvox-test-none");
    ASSERT_TRUE(app.InitInstance(options));
    zelvox::testing::ModalWatcher watcher;
    Button(app.Window(), kStartButton)->click();
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(watcher.boxes[0].text, "open port error");
    EXPECT_EQ(watcher.boxes[0].title, "error");
    EXPECT_TRUE(Button(app.Window(), kStartButton)->isEnabled());
    EXPECT_FALSE(Button(app.Window(), kStopButton)->isEnabled());
    EXPECT_FALSE(app.Window()->Session().IsRunning());
}

TEST(App, ClosingWhileRunningEndsAcquisitionWithoutQuestion) {
    // By the close box, by "E&xit" and by the EXIT button.
    for (int how = 0; how < 3; ++how) {
        SCOPED_TRACE(how);
        RunningOnPty running;
        ASSERT_TRUE(running.Start());
        ZelvoxApplication& app = running.app;
        QPointer<MainWindow> frame = app.Window();
        ASSERT_TRUE(FeedUntilRows(running.pty, frame, 1));

        QElapsedTimer t;
        t.start();
        if (how == 0)
            frame->close();
        else if (how == 1)
            frame->Command(kCmdExit)->trigger();
        else
            Button(frame, kExitButton)->click();
        ASSERT_TRUE(zelvox::testing::WaitUntil([&] { return frame.isNull(); }, 3000));
        EXPECT_LT(t.elapsed(), 1500);
        EXPECT_EQ(app.Window(), nullptr);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "no question is asked";
    }
}

TEST(App, PortSetIsRefusedWhileRunning) {
    RunningOnPty running;
    ASSERT_TRUE(running.Start());
    ZelvoxApplication& app = running.app;
    {
        zelvox::testing::ModalWatcher watcher;
        app.Window()->Command(kCmdPortSet)->trigger();
        ASSERT_EQ(watcher.boxes.size(), 1u);
        EXPECT_EQ(watcher.boxes[0].text, "please stop com first");
        EXPECT_EQ(watcher.boxes[0].title, "error");
    }
    EXPECT_EQ(app.Window()->StatusText(kPortPane), running.pty.SlavePath() + ",2400,N,8,1");
    Button(app.Window(), kStopButton)->click();
    EXPECT_FALSE(app.Window()->Session().IsRunning());
    // Stopped, PORT SET runs its dialog instead of refusing.
    zelvox::testing::ModalWatcher watcher;
    watcher.onOtherModal = [](QWidget* dialog) { dialog->close(); };
    app.Window()->Command(kCmdPortSet)->trigger();
    EXPECT_TRUE(watcher.boxes.empty());
    EXPECT_EQ(watcher.others, 1);
}

TEST(App, DemoMeterIsTheChosenPortAndStreams) {
    ZelvoxApplication app;
    CommandLine options;
    options.demo = true;
    ASSERT_TRUE(app.InitInstance(options));
    const QString port = app.AppSettings().portName;
    EXPECT_TRUE(port.startsWith("/dev/pts/")) << port.toStdString();
    EXPECT_EQ(app.Window()->StatusText(kPortPane), port + ",2400,N,8,1");
    Button(app.Window(), kStartButton)->click();
    ASSERT_TRUE(app.Window()->Session().IsRunning());
    ASSERT_TRUE(zelvox::testing::WaitUntil([&] { return app.Window()->TablePane()->RowCount() >= 2; }, 5000));
    Button(app.Window(), kStopButton)->click();
}

// Alarms in the window at one reading a minute: one frame over the limit between two rows is a
// notice in pane 3, marks the title while it fires and runs the command with its environment.
TEST(App, OneFrameOverAnAlarmLimitIsNoticedMarksTheTitleAndRunsTheCommand) {
    zelvox::testing::Pty pty;
    ASSERT_TRUE(pty.ok());
    QTemporaryDir dir;
    const QString said = dir.filePath(QStringLiteral("said"));
    AlarmRule rule;
    ASSERT_TRUE(ParseAlarmRule("high: above 4200 mV", rule, nullptr));
    ZelvoxApplication app;
    app.WatchAlarms({rule}, "echo \"$ZELVOX_ALARM $ZELVOX_ALARM_STATE $ZELVOX_ALARM_VALUE $ZELVOX_ALARM_UNIT "
                            "$ZELVOX_PORT\" >> '" +
                                said.toStdString() + "'");
    CommandLine options;
    options.port = pty.SlavePath();
    options.journalDir = dir.filePath(QStringLiteral("journal"));
    ASSERT_TRUE(app.InitInstance(options));
    app.AppSettings().samplingRate = 1;
    QStringList titles;
    QObject::connect(app.Window(), &QWidget::windowTitleChanged, [&](const QString& t) { titles << t; });
    Button(app.Window(), kStartButton)->click();
    ASSERT_TRUE(app.Window()->Session().IsRunning());
    for (const char* shown : {"4.000", "4.000", "4.000", "4.500", "4.000", "4.000", "4.000"}) {
        pty.Write(*EncodeReading(shown, kDcVolt));
        QTest::qWait(83);
    }
    const auto text = [&] {
        QFile f(said);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };
    ASSERT_TRUE(zelvox::testing::WaitUntil([&] { return text().count(QLatin1Char('\n')) == 2; }, 5000))
        << text().toStdString();
    EXPECT_EQ(text(), QStringLiteral("high firing 4.500 V %1\nhigh ok 4.000 V %1\n").arg(pty.SlavePath()));
    EXPECT_EQ(titles, QStringList({QStringLiteral("\u26A0 high firing - Zelvox"), QStringLiteral("Zelvox")}));
    EXPECT_EQ(app.Window()->Session().Readings().Count(), 0) << "no row yet: every frame was checked";
    // The live Run View has the rule's firing span, from its firing to its ok, as they happened.
    const RunEvents& events = app.Window()->Session().Keeper().LiveRun()->Events();
    ASSERT_EQ(events.Spans().size(), 1u);
    EXPECT_EQ(events.Spans()[0].toMs - events.Spans()[0].fromMs,
              events.Events()[1].ms - events.Events()[0].ms);
    EXPECT_EQ(events.Events()[0].value, "4.500");
    QStringList notices;
    for (const QLabel* label : app.Window()->statusBar()->findChildren<QLabel*>())
        notices << label->toolTip();
    EXPECT_TRUE(notices.join(QLatin1Char('\n')).contains(QStringLiteral("Alarm high firing: 4.500 V at ")))
        << notices.join(QLatin1Char('\n')).toStdString();

    // SET > Alarms...: the rules and their states; a rule added for this run, a bad one refused.
    QStringList listed, refused;
    QTimer::singleShot(100, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        auto* rule = dialog->findChild<QLineEdit*>();
        const auto push = [&](const char* text) {
            for (QPushButton* b : dialog->findChildren<QPushButton*>())
                if (b->text() == QLatin1String(text))
                    b->click();
        };
        for (const char* text : {"low: belw 3 V", "low: below 3 V"}) {
            rule->setText(QLatin1String(text));
            push("Add");
            refused << dialog->findChild<QLabel*>()->text();
        }
        auto* list = dialog->findChild<QListWidget*>();
        for (int i = 0; i < list->count(); ++i)
            listed << list->item(i)->text();
        push("Close");
    });
    app.Window()->findChild<QMenu*>(QStringLiteral("SET"))->actions().last()->trigger();
    EXPECT_EQ(listed, QStringList({QStringLiteral("high: above 4200 mV (ok)"),
                                   QStringLiteral("low: below 3 V (ok)")}));
    EXPECT_TRUE(refused.value(0).contains(QStringLiteral("column 6"))) << refused.join('|').toStdString();
    EXPECT_EQ(refused.value(1), QString());
}
