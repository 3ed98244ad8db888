// A meter that says nothing and an adapter pulled out mid-run, as the user sees them in the
// program: the notices in status pane 3, the run carried on in the same journal.
#include "app/MainWindow.h"
#include "app/ZelvoxApplication.h"
#include "decode/FrameEncoder.h"
#include "record/ReadingRecord.h"
#include "res/ControlIds.h"
#include "session/MeterSession.h"
#include "support/Pty.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

using namespace zelvox;
using zelvox::testing::Pty;

namespace {

void Click(MainWindow* window, int button) {
    window->findChild<QPushButton*>(QString::number(button))->click();
}

// Feeds the meter's frames until the table has `rows` rows; false when it never gets there.
bool FeedUntilRows(MainWindow* window, Pty& pty, int rows) {
    const Frame frame = *EncodeReading("1.500", 1);
    for (int i = 0; i < 400 && window->Session().Readings().Count() < rows; ++i) {
        pty.Write(frame);
        QTest::qWait(20);
    }
    return window->Session().Readings().Count() >= rows;
}

int CountStartingWith(const QStringList& texts, const QString& start) {
    int n = 0;
    for (const QString& t : texts)
        n += t.startsWith(start) ? 1 : 0;
    return n;
}

} // namespace

TEST(LinkNotices, ASilentPortIsSaidAfterFiveSecondsAndTheFirstFrameClearsIt) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    CommandLine options;
    options.port = pty.SlavePath();
    options.journal = false;
    ZelvoxApplication app;
    ASSERT_TRUE(app.InitInstance(options));
    MainWindow* window = app.Window();
    const QString notice = QStringLiteral("No data from %1").arg(pty.SlavePath());
    QElapsedTimer clock;
    clock.start();
    Click(window, kStartButton);
    QTRY_VERIFY_WITH_TIMEOUT(window->StatusText(kProgressPane).startsWith(notice), 6000);
    EXPECT_GE(clock.elapsed(), 4900) << "said before the line had been silent for 5 s";
    EXPECT_TRUE(window->StatusText(kProgressPane).contains(QStringLiteral("serial output")));
    EXPECT_EQ(window->Session().MirroredFrame(), Frame{}) << "the display stays as it was";

    ASSERT_TRUE(FeedUntilRows(window, pty, 1));
    QTRY_VERIFY_WITH_TIMEOUT(!window->StatusText(kProgressPane).startsWith(notice), 1000);
    EXPECT_EQ(window->Session().MirroredFrame(), *EncodeReading("1.500", 1));
    EXPECT_EQ(CountStartingWith(window->Notices(), notice), 1) << "kept in the pane's tooltip";
    Click(window, kStopButton);
}

TEST(LinkNotices, AnUnpluggedAdapterIsReopenedAndTheRunGoesOnInTheSameJournal) {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("meter"));
    auto pty = std::make_unique<Pty>();
    ASSERT_TRUE(pty->ok());
    ASSERT_TRUE(QFile::link(pty->SlavePath(), link));
    CommandLine options;
    options.port = link;
    options.journalDir = dir.filePath(QStringLiteral("journal"));
    int shown = 0;
    {
        ZelvoxApplication app;
        ASSERT_TRUE(app.InitInstance(options));
        QPointer<MainWindow> window = app.Window();
        Click(window, kStartButton);
        ASSERT_TRUE(FeedUntilRows(window, *pty, 3));

        // Pulled out: said at once, and the run goes on.
        pty->CloseMaster();
        const QString unplugged = QStringLiteral("%1 unplugged").arg(link);
        QTRY_COMPARE_WITH_TIMEOUT(CountStartingWith(window->Notices(), unplugged), 1, 1000);
        EXPECT_TRUE(window->Session().IsRunning());

        // Plugged in again: a new device behind the same name.
        pty = std::make_unique<Pty>();
        ASSERT_TRUE(QFile::remove(link));
        ASSERT_TRUE(QFile::link(pty->SlavePath(), link));
        const int before = window->Session().Readings().Count();
        ASSERT_TRUE(FeedUntilRows(window, *pty, before + 3));
        EXPECT_EQ(CountStartingWith(window->Notices(), QStringLiteral("%1 is back").arg(link)), 1);

        // Out again, and STOP during the outage: at once, and the notice of the outage goes.
        pty->CloseMaster();
        QTRY_COMPARE_WITH_TIMEOUT(CountStartingWith(window->Notices(), unplugged), 2, 1000);
        QElapsedTimer clock;
        clock.start();
        Click(window, kStopButton);
        EXPECT_LT(clock.elapsed(), 300);
        EXPECT_FALSE(window->Session().IsRunning());
        QTest::qWait(2 * MainWindow::kNoticeMs);
        EXPECT_FALSE(window->StatusText(kProgressPane).startsWith(unplugged))
            << window->StatusText(kProgressPane).toStdString();
        shown = window->Session().Readings().Count();
        window->close();
        QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 3000);
    }
    // One journal, its Index running on across both outages.
    const QDir journals(options.journalDir);
    const QStringList files = journals.entryList({QStringLiteral("*.csv")}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    QFile file(journals.filePath(files[0]));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto records = ParseCsv(file.readAll().toStdString());
    ASSERT_EQ(records.size(), static_cast<std::size_t>(shown) + 1);
    for (std::size_t i = 1; i < records.size(); ++i)
        EXPECT_EQ(records[i][1], std::to_string(i - 1)) << "row " << i;
}
