// The Run View reading a folder of journals and a path that is no journal: the runs one after
// another on one time axis, and one report of what was left out.
#include "panes/RunJournalFeed.h"
#include "journal/JournalLoader.h"
#include "panes/RunPlot.h"
#include "panes/RunViewWindow.h"
#include "record/ReadingRecord.h"
#include "support/JournalFiles.h"
#include "support/Pictures.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace zelvox {
namespace {

constexpr std::int64_t kStart = 1796726526000;

// An Index past what 32 bits hold: a run that went on for decades at the fastest rate.
constexpr std::int64_t kLateIndex = 5'000'000'000;

// DCV readings rising by a millivolt each.
Reading Rising(int i) {
    return Reading{1.0 + i * 0.001, 1, 1};
}

TEST(RunJournalFeed, AFolderOfJournalsRunsOneAfterAnotherWithOneReportOfWhatWasLeftOut) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("recordings"));
    ASSERT_TRUE(QDir().mkpath(folder));
    // Named by their first rows' moments: read in that order whatever order they were written in.
    using zelvox::testing::WriteJournal;
    ASSERT_TRUE(
        WriteJournal(folder + QStringLiteral("/2026-12-08T12-00-00.csv"), 3, kStart + 3600000, 500, Rising, 1,
                     "garbage,7,x,DCV V,??,1\r\n" +
                         CsvLine(MakeDispatchedReading(0, 4, WallTimeAt(kStart + 3600000 + 1500, 3600),
                                                       Reading{2.0, 1, 1})) +
                         // Indices 5 and 6 left out, and a clock set back by half a second.
                         CsvLine(MakeDispatchedReading(0, 7, WallTimeAt(kStart + 3600000 + 1000, 3600),
                                                       Reading{2.5, 1, 1})) +
                         "2026-12-08T13:00:02.000+01:00,8,2.0"));
    ASSERT_TRUE(WriteJournal(folder + QStringLiteral("/2026-12-08T10-00-00.csv"), 5, kStart, 500, Rising,
                             kLateIndex));
    QFile notes(folder + QStringLiteral("/notes.csv")); // another CSV file: named as skipped
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly) && notes.write("Time,Volts\n") > 0);
    notes.close();
    ASSERT_TRUE(QDir(folder).mkdir(QStringLiteral("old.csv"))); // a folder is not one either
    const QString fifo = dir.filePath(QStringLiteral("pipe.csv"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    EXPECT_EQ(RunJournalFeed::Resolve({folder, fifo}).files.size(), 3);
    RunViewWindow view;
    view.Open({folder, fifo});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.IsReading(); }, 10000));

    const RunIndex& index = view.Index();
    ASSERT_EQ(index.Size(), 5 + 5);
    std::vector<std::int64_t> runs, firsts;
    for (const IndexBreak& b : index.Breaks()) {
        runs.push_back(b.run);
        firsts.push_back(b.firstIndex);
    }
    EXPECT_EQ(runs, (std::vector<std::int64_t>{0, 1, 1}));
    EXPECT_EQ(firsts, (std::vector<std::int64_t>{kLateIndex, 1, 7}));
    EXPECT_EQ(index.Time(5), kStart + 3600000);
    EXPECT_EQ(index.IndexOf(8), 4);

    const QLabel* status = view.findChild<QLabel*>(QStringLiteral("RunProgress"));
    const QString report = status->text();
    EXPECT_EQ(report.section(QLatin1Char(';'), 0, 0), QStringLiteral("Read 10 rows from 3 files"));
    EXPECT_TRUE(report.contains(QStringLiteral("skipped: notes.csv (not a journal or a logger's CSV)")))
        << report.toStdString();
    // One short status text, the counts at its end; the reader's whole report and the first of
    // each kind in its tooltip.
    EXPECT_TRUE(report.endsWith(QStringLiteral("; 1 Index gaps; 1 readings whose clock went back")))
        << report.toStdString();
    EXPECT_LT(report.size(), 240);
    const QString details = status->toolTip();
    for (const QString& part :
         {QStringLiteral("1 damaged line skipped (line 5)"), QStringLiteral("the last line was cut short"),
          QStringLiteral("Cannot load ") + fifo, QStringLiteral("Index 7 after 4"),
          QStringLiteral("Index 7 recorded at 2026-12-08 12:42:07.000, drawn at 2026-12-08 12:42:07.500")})
        EXPECT_TRUE(details.contains(part)) << details.toStdString();
    EXPECT_TRUE(view.windowTitle().startsWith(QStringLiteral("3 files"))) << view.windowTitle().toStdString();

    // Drawn where it was recorded as well: a red ring at 12:42:07.000, half a second before the
    // trace takes it (and its mark on the time axis below).
    RunPlot& plot = view.Plot();
    plot.resize(800, 400);
    plot.ShowSpan(static_cast<double>(kStart + 3600000 + 250), static_cast<double>(kStart + 3600000 + 1750));
    QImage image(plot.size(), QImage::Format_RGB32);
    {
        QPainter p(&image);
        plot.Render(p, image.rect());
    }
    const auto redAt = [&](std::int64_t ms) {
        const int x = plot.PlotRect().left() + static_cast<int>(plot.View().Column(ms));
        return testing::CountPixels(image,
                                    QRect(x - 4, plot.PlotRect().top(), 9, plot.PlotRect().height() - 12),
                                    [](QRgb c) { return qRed(c) > 150 && qGreen(c) < 90 && qBlue(c) < 90; });
    };
    EXPECT_GT(redAt(kStart + 3600000 + 1000), 4);
    EXPECT_EQ(redAt(kStart + 3600000 + 500), 0);

    // The whole run saved as CSV reads back as it was read, its Indices whole.
    view.Plot().FitAll();
    const QString span = dir.filePath(QStringLiteral("span.csv"));
    QString why;
    ASSERT_TRUE(view.SaveSpanCsv(span, &why)) << why.toStdString();
    const LoadedJournal back = LoadJournal(span);
    ASSERT_EQ(back.rows.size(), 10u);
    EXPECT_EQ(back.rows[4].index, kLateIndex + 4);
    EXPECT_EQ(back.rows[5].index, 1);
    // The reading whose clock went back keeps the instant it was recorded with.
    EXPECT_EQ(back.rows[9].index, 7);
    EXPECT_EQ(back.rows[9].at.EpochMs(), kStart + 3600000 + 1000);
}

} // namespace
} // namespace zelvox
