// A silent meter and an adapter pulled out mid-run, as the user meets them in the program.
#include "app/MainWindow.h"
#include "app/ZelvoxApplication.h"
#include "decode/FrameEncoder.h"
#include "res/ControlIds.h"
#include "session/MeterSession.h"
#include "support/EventLoop.h"
#include "support/JournalFiles.h"
#include "support/Pty.h"
#include "support/ShownDisplay.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace zelvox;

TEST(LinkNotices, ASilentPortIsSaidAndAnUnpluggedOneReopenedWhileTheRunGoesOnInTheSameJournal) {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("meter"));
    auto pty = std::make_unique<zelvox::testing::Pty>();
    ASSERT_TRUE(QFile::link(pty->SlavePath(), link));
    CommandLine options;
    options.port = link;
    options.journalDir = dir.filePath(QStringLiteral("journal"));
    ZelvoxApplication app;
    ASSERT_TRUE(app.InitInstance(options));
    QPointer<MainWindow> window = app.Window();
    const auto click = [&](int button) { window->findChild<QPushButton*>(QString::number(button))->click(); };
    const auto feedUntilRows = [&](int rows) {
        for (int i = 0; i < 400 && window->Session().Readings().Count() < rows; ++i, QTest::qWait(20))
            pty->Write(*EncodeReading("1.500", 1));
        return window->Session().Readings().Count() >= rows;
    };
    const auto pane = [&] { return window->StatusText(kProgressPane); };

    // Nothing comes: said after 5 s, the display left as it was; the first frame takes it back.
    QElapsedTimer clock;
    clock.start();
    click(kStartButton);
    const QString silent =
        QStringLiteral("No data from %1 \u2014 check: meter on, serial output enabled").arg(link);
    ASSERT_TRUE(zelvox::testing::WaitUntil([&] { return pane().startsWith(silent); }, 6000));
    EXPECT_GE(clock.elapsed(), 4900);
    EXPECT_EQ(zelvox::testing::ShownDisplay(*window->PanelPane()), zelvox::testing::Nibbles{});
    ASSERT_TRUE(feedUntilRows(3));
    EXPECT_FALSE(pane().startsWith(silent));

    // Pulled out, and plugged in again: another device behind the same name.
    const QString unplugged = link + QStringLiteral(" unplugged");
    pty->CloseMaster();
    ASSERT_TRUE(
        zelvox::testing::WaitUntil([&] { return window->Notices().filter(unplugged).size() == 1; }, 1000));
    pty = std::make_unique<zelvox::testing::Pty>();
    ASSERT_TRUE(QFile::remove(link) && QFile::link(pty->SlavePath(), link));
    ASSERT_TRUE(feedUntilRows(window->Session().Readings().Count() + 3));
    EXPECT_EQ(window->Notices().filter(link + QStringLiteral(" is back")).size(), 1);

    // Out again: STOP during the outage is immediate and takes the notice back.
    pty->CloseMaster();
    ASSERT_TRUE(
        zelvox::testing::WaitUntil([&] { return window->Notices().filter(unplugged).size() == 2; }, 1000));
    clock.restart();
    click(kStopButton);
    EXPECT_LT(clock.elapsed(), 300);
    QTest::qWait(2 * MainWindow::kNoticeMs);
    EXPECT_FALSE(pane().startsWith(unplugged));
    const std::int64_t shown = window->Session().Readings().Count();
    window->close();
    ASSERT_TRUE(zelvox::testing::WaitUntil([&] { return window.isNull(); }, 3000));

    // One journal, its Index running on across both outages.
    EXPECT_EQ(zelvox::testing::JournalIndices(zelvox::testing::OnlyJournal(options.journalDir)),
              zelvox::testing::IndexRun(0, shown));
}
