// The Run View's sources: rotated and compressed logs read as one run, oldest first, whatever
// names them; a followed log through growth, logrotate's rename and a truncation, and a followed
// folder through a new log and a rotation.
#include "journal/JournalFollow.h"
#include "panes/RunViewWindow.h"
#include "record/ReadingRecord.h"
#include "support/JournalFiles.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

namespace zelvox {
namespace {

constexpr std::int64_t kStart = 1796726526000;
constexpr std::int64_t kDayMs = 86'400'000;

// count logger rows from Index 0, a day after day, 500 ms apart, without a header.
std::string LogRows(int day, int count, int from = 0) {
    std::string text;
    for (int i = from; i < from + count; ++i)
        text += CsvLine(MakeDispatchedReading(1, i, WallTimeAt(kStart + day * kDayMs + i * 500, 3600),
                                              Reading{1.0 + i * 0.001, 1, 1}));
    return text;
}

bool Write(const QString& path, const std::string& text, bool gzip = false) {
    if (gzip) {
        gzFile gz = gzopen(QFile::encodeName(path).constData(), "wb");
        return gz && gzwrite(gz, text.data(), static_cast<unsigned>(text.size())) == int(text.size()) &&
               gzclose(gz) == Z_OK;
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append) &&
           file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size());
}

const QString& Status(const RunViewWindow& view) {
    static QString text;
    text = view.findChild<QLabel*>(QStringLiteral("RunProgress"))->text();
    return text;
}

struct Layout {
    const char* name;
    std::vector<const char*> files; // "NAME rows" (a day each, in the order given), "NAME.gz" gzip
    std::vector<const char*> open;  // paths in the folder; empty: the folder
    std::int64_t rows;
    int runs;
    const char* status; // part of the status line
    // rows -1: a file is cut, some of its rows are read
};

TEST(RunSources, RotatedAndCompressedLogsReadAsOneRunOldestFirst) {
    const std::vector<Layout> layouts = {
        {"a service's folder",
         {"ttyUSB0.log.2.gz 3", "ttyUSB0.log.1 4", "ttyUSB0.log 5"},
         {},
         12,
         3,
         "Read 12 rows from 3 files"},
        {"the .gz named alone",
         {"ttyUSB0.log.2.gz 3", "ttyUSB0.log.1 4"},
         {"ttyUSB0.log.2.gz"},
         3,
         1,
         "Read 3 rows from 1 file"},
        {"a shell glob's order",
         {"ttyUSB0.log.10.gz 2", "ttyUSB0.log.2.gz 3", "ttyUSB0.log.1 4", "ttyUSB0.log 5"},
         {"ttyUSB0.log", "ttyUSB0.log.1", "ttyUSB0.log.10.gz", "ttyUSB0.log.2.gz"},
         14,
         4,
         "Read 14 rows from 4 files"},
        {"journals, a log and what is no journal",
         {"2026-12-08T10-00-00.csv 3", "a.log 2", "other.csv", "broken"},
         {},
         5,
         2,
         "skipped: broken (No such file or directory), other.csv (not a journal or a logger's CSV)"},
        {"a compressed log cut short",
         {"ttyUSB1.log.1.gz cut", "ttyUSB1.log 2"},
         {},
         -1,
         2,
         "1 file unreadable"},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        QTemporaryDir dir;
        int day = 0;
        for (const char* entry : layout.files) {
            const QStringList parts = QString::fromLatin1(entry).split(QLatin1Char(' '));
            const QString path = dir.filePath(parts[0]);
            const bool gzip = parts[0].endsWith(QLatin1String(".gz"));
            if (parts[0] == QLatin1String("broken"))
                ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("nowhere")), path));
            else if (parts.size() == 1)
                ASSERT_TRUE(Write(path, "Time,Volts\r\n1,2\r\n"));
            else if (parts[1] == QLatin1String("cut")) {
                ASSERT_TRUE(Write(path, CsvHeader() + LogRows(day++, 500), true));
                QFile f(path);
                ASSERT_TRUE(f.resize(f.size() / 2)); // rotated while the disk filled: not whole
            } else
                ASSERT_TRUE(Write(path, CsvHeader() + LogRows(day++, parts[1].toInt()), gzip));
        }
        QStringList open;
        for (const char* name : layout.open)
            open << dir.filePath(QString::fromLatin1(name));
        RunViewWindow view;
        view.Open(open.isEmpty() ? QStringList{dir.path()} : open);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view.IsReading(); }, 10000));
        EXPECT_TRUE(Status(view).contains(QString::fromLatin1(layout.status))) << Status(view).toStdString();
        const RunIndex& index = view.Index();
        if (layout.rows < 0) { // the rows before the cut, but not all
            EXPECT_TRUE(index.Size() > 2 && index.Size() < 502) << index.Size();
        } else {
            EXPECT_EQ(index.Size(), layout.rows);
        }
        EXPECT_EQ(index.ClockSetBack(), 0); // oldest first: time never went back
        EXPECT_EQ(index.SegmentCount(), layout.runs);
    }
}

// What happens to the followed log, and the rows the files hold after it.
struct Growth {
    const char* name;
    std::function<void(const QString& log, RunViewWindow& view)> act;
    std::int64_t rows;   // the rows the log's files hold after act
    bool folder = false; // the folder is followed, not the log
};

TEST(RunSources, AFollowedLogIsReadOnceThroughGrowthRotationAndTruncation) {
    const std::vector<Growth> growths = {
        {"append", [](const QString& log, RunViewWindow&) { ASSERT_TRUE(Write(log, LogRows(0, 7, 10))); },
         17},
        {"rename and recreate",
         [](const QString& log, RunViewWindow& view) {
             ASSERT_TRUE(Write(log, LogRows(0, 2, 10))); // the old logger's last lines
             ASSERT_TRUE(QFile::rename(log, log + QStringLiteral(".1")));
             ASSERT_TRUE(
                 QTest::qWaitFor([&] { return Status(view).contains(QStringLiteral("went away")); }, 5000));
             ASSERT_TRUE(Write(log, CsvHeader() + LogRows(1, 6)));
         },
         12 + 6},
        {"truncate",
         [](const QString& log, RunViewWindow&) {
             QFile f(log);
             ASSERT_TRUE(f.resize(0));
             ASSERT_TRUE(Write(log, LogRows(0, 3, 10))); // the logger goes on, no new header
         },
         10 + 3},
        {"a new log in the followed folder",
         [](const QString& log, RunViewWindow&) {
             const QString next = QFileInfo(log).dir().filePath(QStringLiteral("ttyUSB1.log"));
             ASSERT_TRUE(Write(next, CsvHeader())); // made before its first row
             QTest::qWait(300);
             ASSERT_TRUE(Write(next, LogRows(2, 5)));
             ASSERT_TRUE(Write(QFileInfo(log).dir().filePath(QStringLiteral("notes.txt")), "not rows\n"));
         },
         10 + 5, true},
        {"rotated and compressed in the followed folder",
         [](const QString& log, RunViewWindow&) {
             ASSERT_TRUE(Write(log, LogRows(0, 2, 10)));
             ASSERT_TRUE(QFile::rename(log, log + QStringLiteral(".1")));
             ASSERT_TRUE(Write(log, CsvHeader() + LogRows(1, 6)));
             QTest::qWait(700);
             ASSERT_TRUE(Write(log + QStringLiteral(".2.gz"), CsvHeader() + LogRows(0, 12), true));
             ASSERT_TRUE(QFile::remove(log + QStringLiteral(".1")));
         },
         12 + 6, true},
    };
    for (const Growth& growth : growths) {
        SCOPED_TRACE(growth.name);
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("ttyUSB0.log"));
        ASSERT_TRUE(Write(log, CsvHeader() + LogRows(0, 10)));
        RunViewWindow view;
        view.Open({growth.folder ? dir.path() : log});
        ASSERT_TRUE(QTest::qWaitFor([&] { return view.Index().Size() == 10; }, 5000));
        for (QAction* a : view.findChildren<QAction*>())
            EXPECT_TRUE(a->text() != QStringLiteral("Follow live") || (a->isEnabled() && a->isChecked()));
        growth.act(log, view);
        ASSERT_TRUE(QTest::qWaitFor([&] { return view.Index().Size() == growth.rows; }, 5000))
            << view.Index().Size() << " " << Status(view).toStdString();
        QTest::qWait(2 * JournalFollow::kPollMs + 100); // two more polls: nothing is read twice
        EXPECT_EQ(view.Index().Size(), growth.rows);
        // The same file opened again raises this window, not a second one (menus are top-level
        // widgets too, made when first laid out: only the windows are counted).
        const auto runViews = [] {
            const QWidgetList all = QApplication::topLevelWidgets();
            return std::count_if(all.begin(), all.end(),
                                 [](QWidget* w) { return qobject_cast<RunViewWindow*>(w) != nullptr; });
        };
        const auto windows = runViews();
        view.Open({growth.folder ? dir.path() : log});
        EXPECT_EQ(runViews(), windows);
    }
}

} // namespace
} // namespace zelvox
