// The export commands as a user meets them in the running program: a save that fails leaves its
// failure text in the status bar and acquisition going on.
#include "app/MainWindow.h"
#include "app/ZelvoxApplication.h"
#include "export/ExportTestSupport.h"
#include "panes/ControlPanel.h"
#include "panes/ReadingsTable.h"
#include "res/ControlIds.h"
#include "session/MeterSession.h"
#include "support/EventLoop.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace zelvox;
using zelvox::testing::ModalWatcher;

TEST(ExportCommands, FailedSavesShowTheirFailureTextAndAcquisitionGoesOn) {
    ZelvoxApplication app;
    CommandLine options;
    options.demo = true;
    options.journal = false; // a notice of the journal folder's pruning would take the status line
    ASSERT_TRUE(app.InitInstance(options));
    MainWindow* frame = app.Window();
    frame->PanelPane()->findChild<QPushButton*>(ControlName(kStartButton))->click();
    ASSERT_TRUE(frame->Session().IsRunning());
    ASSERT_TRUE(zelvox::testing::WaitUntil([&] { return frame->TablePane()->RowCount() >= 2; }, 5000));

    QTemporaryDir dir;
    const struct {
        int command;
        const char* failureText;
    } saves[] = {{kCmdSaveText, "save txt file error"}, {kCmdSaveExcel, "save excel file error"}};
    for (const auto& save : saves) {
        ModalWatcher watcher;
        watcher.onFileDialog =
            zelvox::testing::ChoosePath(zelvox::testing::UncreatablePath(dir, QStringLiteral("log")));
        frame->Command(save.command)->trigger();
        ASSERT_EQ(watcher.boxes.size(), 1u) << save.failureText;
        EXPECT_TRUE(watcher.boxes[0].text.contains(QStringLiteral("Not a directory")))
            << watcher.boxes[0].text.toStdString();
        EXPECT_EQ(frame->StatusText(kProgressPane), QString::fromLatin1(save.failureText));
    }
    // The workers were paused only while saving: readings keep coming.
    const int rows = frame->TablePane()->RowCount();
    ASSERT_TRUE(zelvox::testing::WaitUntil([&] { return frame->TablePane()->RowCount() > rows; }, 5000));
    frame->PanelPane()->findChild<QPushButton*>(ControlName(kStopButton))->click();
    EXPECT_FALSE(frame->Session().IsRunning());
}

TEST(ExportCommands, SaveDialogsOpenWhereTheLastSaveWentInThisRun) {
    ZelvoxApplication app;
    CommandLine options;
    options.journal = false;
    ASSERT_TRUE(app.InitInstance(options));
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a")), b = dir.filePath(QStringLiteral("b"));
    ASSERT_TRUE(QDir().mkdir(a) && QDir().mkdir(b));
    // Each command with what the user chooses (nothing: cancelled), and where its dialog opened.
    const std::pair<int, QString> saves[] = {{kCmdSaveText, a + QStringLiteral("/table")},
                                             {kCmdExportGraph, b + QStringLiteral("/graph.bmp")},
                                             {kCmdSaveExcel, QString()},
                                             {kCmdSaveText, QString()}};
    QStringList openedIn;
    for (const auto& [command, chosen] : saves) {
        ModalWatcher watcher;
        if (!chosen.isEmpty())
            watcher.onFileDialog = zelvox::testing::ChoosePath(chosen);
        app.Window()->Command(command)->trigger();
        ASSERT_EQ(watcher.dialogs.size(), 1u);
        openedIn << watcher.dialogs[0].directory;
    }
    EXPECT_TRUE(QFile::exists(a + QStringLiteral("/table.txt")) &&
                QFile::exists(b + QStringLiteral("/graph.bmp")));
    EXPECT_EQ(openedIn, QStringList({QDir::currentPath(), a, b, b}));
}
