// The readings journal in the program: the table's rows go to the journal as they are shown, and
// --load brings a journal back into the table.
#include "app/MainWindow.h"
#include "app/ZelvoxApplication.h"
#include "decode/FrameEncoder.h"
#include "journal/Journal.h"
#include "panes/ControlPanel.h"
#include "panes/NeedleGauge.h"
#include "panes/ReadingsTable.h"
#include "panes/TrendGraph.h"
#include "record/RowCodec.h"
#include "res/ControlIds.h"
#include "session/MeterSession.h"
#include "support/EventLoop.h"
#include "support/JournalFiles.h"
#include "support/Pty.h"
#include "support/ShownDisplay.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>

using namespace zelvox;

namespace {

QStringList TableRows(MainWindow* window) {
    QStringList rows;
    for (int r = 0; r < window->TablePane()->RowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < 4; ++c)
            cells << window->TablePane()->CellText(r, c);
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

// START, readings of -1.234 from the meter until the table holds `rows` rows, then STOP.
bool RecordUntil(MainWindow* window, zelvox::testing::Pty& meter, int rows) {
    window->PanelPane()->findChild<QPushButton*>(QString::number(kStartButton))->click();
    for (int i = 0; i < 250 && window->TablePane()->RowCount() < rows; ++i) {
        meter.Write(*EncodeReading("-1.234", 1));
        QTest::qWait(20);
    }
    window->PanelPane()->findChild<QPushButton*>(QString::number(kStopButton))->click();
    return window->TablePane()->RowCount() >= rows;
}

} // namespace

TEST(AppJournal, TableRowsAreJournaledAndLoadBringsThemBack) {
    QTemporaryDir dir;
    zelvox::testing::Pty pty;
    ASSERT_TRUE(pty.ok());
    CommandLine options;
    options.port = pty.SlavePath();
    options.journalDir = dir.path();
    QStringList shown;
    {
        ZelvoxApplication app;
        ASSERT_TRUE(app.InitInstance(options));
        QPointer<MainWindow> window = app.Window();
        ASSERT_TRUE(RecordUntil(window, pty, 3));
        shown = TableRows(window);
        window->close();
        ASSERT_TRUE(zelvox::testing::WaitUntil([&] { return window.isNull(); }, 3000));
    }
    const QString path = zelvox::testing::OnlyJournal(dir.path());
    ASSERT_FALSE(path.isEmpty()) << "not one journal";
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral(".*.open")}, QDir::Files | QDir::Hidden).isEmpty())
        << "the run ended cleanly";
    const std::vector<JournalRow> records = LoadJournal(path).rows;
    ASSERT_EQ(records.size(), static_cast<std::size_t>(shown.size()));
    for (int i = 0; i < shown.size(); ++i) {
        const JournalRow& r = records[static_cast<std::size_t>(i)];
        const TableTexts t = MakeTableTexts(r.index, r.reading, r.at);
        EXPECT_EQ(QString::fromStdString(t.index + "|" + t.value + "|" + t.type + "|" + t.time), shown[i]);
        EXPECT_EQ(r.reading.value, -1.234);
    }

    // A gap and a larger Index behind the run: the table shows the file's indices.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    const WallTime at = WallTimeNow();
    const Reading last{-12.5, 3, 23};
    file.write(QByteArray::fromStdString(CsvLine(MakeDispatchedReading(1, 40, at, last))));
    file.close();

    options.load = path;
    ZelvoxApplication app;
    ASSERT_TRUE(app.InitInstance(options));
    MainWindow* window = app.Window();
    ASSERT_TRUE(zelvox::testing::WaitUntil([&] { return !window->Session().Loading(); }, 5000));
    QStringList rows = TableRows(window);
    ASSERT_EQ(rows.size(), shown.size() + 1);
    rows.removeLast();
    EXPECT_EQ(rows, shown);
    EXPECT_TRUE(TableRows(window).last().startsWith(QStringLiteral("40|-12.5|")))
        << TableRows(window).last().toStdString();
    ASSERT_FALSE(window->Notices().isEmpty());
    EXPECT_TRUE(window->Notices().last().startsWith(QStringLiteral("Loaded %1 rows").arg(shown.size() + 1)))
        << window->Notices().last().toStdString();
    EXPECT_TRUE(window->Notices().last().contains(QStringLiteral("1 gap in the Index")));
    // The graph, the gauge and MAX/MIN show the loaded run, as they did while it was recorded.
    EXPECT_EQ(window->Session().History().Count(), shown.size() + 1);
    EXPECT_EQ(window->Session().History().RunStart(), shown.size()) << "a new function starts a run";
    EXPECT_EQ(window->TrendPane()->PageCount(), 1);
    EXPECT_EQ(window->GaugePane()->gaugeValue(), -12.5);
    EXPECT_EQ(zelvox::testing::ShownDisplay(*window->PanelPane()),
              zelvox::testing::DisplayOf(*EncodeReading("-12.5", 23)))
        << "the LCD shows the last reading";
    auto* maxField = window->PanelPane()->findChild<QLineEdit*>(QString::number(kMaxValueField));
    ASSERT_NE(maxField, nullptr);
    EXPECT_TRUE(maxField->text().startsWith(QStringLiteral("-12.5"))) << maxField->text().toStdString();

    // New readings go on after the largest Index, in the table and in the new journal.
    ASSERT_TRUE(RecordUntil(window, pty, static_cast<int>(shown.size()) + 2));
    EXPECT_EQ(window->TablePane()->CellText(shown.size() + 1, 0), QStringLiteral("41"));
}

TEST(AppJournal, AnInterruptedRunIsNamedWithTheOtherNoticesAndKeptUntilLoaded) {
    QTemporaryDir dir;
    // An interrupted run and 55 older journals.
    const auto name = [](int i) {
        return QStringLiteral("2026-12-08T10-%1-00.csv").arg(i, 2, 10, QLatin1Char('0'));
    };
    for (int i = 0; i < 56; ++i)
        ASSERT_TRUE(zelvox::testing::WriteJournal(dir.filePath(name(i)), 0, 0, 0, {}));
    QFile(dir.filePath(QLatin1Char('.') + name(55) + QStringLiteral(".open"))).open(QIODevice::WriteOnly);
    // One of them last written longer ago than the journals are kept.
    QFile old(dir.filePath(name(1)));
    ASSERT_TRUE(old.open(QIODevice::ReadWrite) && old.setFileTime(QDateTime::currentDateTime().addDays(-400),
                                                                  QFileDevice::FileModificationTime));
    old.close();
    CommandLine options;
    options.journalDir = dir.path();
    options.load = dir.filePath(name(0)); // the oldest
    ZelvoxApplication app;
    ASSERT_TRUE(app.InitInstance(options));
    MainWindow* window = app.Window();
    ASSERT_TRUE(zelvox::testing::WaitUntil([&] { return !window->Session().Loading(); }, 5000));
    // Every notice is kept, in order, however fast they came.
    const QStringList notices = window->Notices();
    ASSERT_EQ(notices.size(), 3) << notices.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(notices[0].toStdString(),
              QStringLiteral("Interrupted recording: %1 (39 bytes), kept until loaded with --load")
                  .arg(dir.filePath(name(55)))
                  .toStdString());
    EXPECT_TRUE(notices[1].startsWith(QStringLiteral("Removed %1: ").arg(name(1))))
        << notices[1].toStdString();
    EXPECT_EQ(notices[2], QStringLiteral("Loaded 0 rows from %1").arg(options.load));
    EXPECT_EQ(window->StatusText(kProgressPane), notices[0]) << "the first still holds the pane";
    ASSERT_TRUE(zelvox::testing::WaitUntil([&] { return window->StatusText(kProgressPane) == notices[1]; },
                                           2 * MainWindow::kNoticeMs));
    EXPECT_TRUE(QFile::exists(options.load));
}

TEST(AppJournal, ReadingsTakenDuringAMillionRowLoadTakeIndicesNoRowHas) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("2026-12-08T10-00-00.csv"));
    ASSERT_TRUE(zelvox::testing::WriteJournal(
        path, 1000000, 1796726526123, 500,
        [](int) {
            return Reading{1.234, 1, 1};
        },
        0));
    CommandLine options;
    options.journalDir = dir.filePath(QStringLiteral("journal"));
    options.load = path;
    ZelvoxApplication app;
    ASSERT_TRUE(app.InitInstance(options));
    MeterSession& session = app.Window()->Session();
    int dispatched = 0;
    while (session.Loading() && dispatched < 200) {
        session.DispatchReading(Reading{-5.5, 3, 2});
        ++dispatched;
        QTest::qWait(5);
    }
    ASSERT_TRUE(zelvox::testing::WaitUntil([&] { return !session.Loading(); }, 30000));
    ASSERT_GT(dispatched, 0) << "the load ended before a reading was taken";
    const ReadingsModel& table = session.Readings();
    ASSERT_EQ(table.Count(), 1000000 + dispatched);
    std::vector<std::int64_t> indices;
    for (int row = 0; row < table.Count(); ++row)
        indices.push_back(table.IndexAt(row));
    std::sort(indices.begin(), indices.end());
    EXPECT_EQ(std::adjacent_find(indices.begin(), indices.end()), indices.end()) << "an Index twice";

    // The new journal holds the readings taken during the load, with the table's Indices.
    app.Window()->close();
    QCoreApplication::processEvents();
    EXPECT_EQ(zelvox::testing::JournalIndices(zelvox::testing::OnlyJournal(options.journalDir)),
              zelvox::testing::IndexRun(1000000, dispatched));
}
