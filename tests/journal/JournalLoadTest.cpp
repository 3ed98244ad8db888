// Loading hostile files: each loads what it can in time and says what it left out; pruning
// spares what the user still needs.
#include "journal/Journal.h"
#include "journal/JournalLoader.h"
#include "record/RowCodec.h"
#include "support/JournalLines.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <optional>
#include <sys/stat.h>
#include <thread>

namespace zelvox {
namespace {

Reading NthReading(int i) {
    const Reading readings[] = {
        {1.234, 1, 1}, {-0.5, 2, 2}, {kOverload, 0, 12}, {-12.3, 3, 23}, {7.0, 0, 17}};
    return readings[i % 5];
}

std::string Row(int index, int i) {
    const WallTime at = WallTimeAt(1796726526123 + std::int64_t(i) * 500);
    const Reading r = NthReading(i);
    return CsvLine(MakeDispatchedReading(1, index, at, r));
}

// The header and rows 0..n-1; edit(i, row) may change row i (the header is line 1, row i
// line i + 2).
std::string Journal99(const std::function<void(int, std::string&)>& edit = {}, int n = 99) {
    std::string text = CsvHeader();
    for (int i = 0; i < n; ++i) {
        std::string row = Row(i, i);
        if (edit)
            edit(i, row);
        text += row;
    }
    return text;
}

struct Case {
    const char* name;
    std::string bytes;
    std::int64_t rows = 0, damaged = 0, firstDamagedLine = 0;
    bool cut = false;
    std::int64_t gaps = 0;
    const char* error = nullptr; // part of the error, for a file that is refused
};

std::vector<Case> HostileFiles() {
    std::vector<Case> cases;
    cases.push_back({"whole", Journal99(), 99});
    cases.push_back({"every field quoted", Journal99([](int i, std::string& row) {
                         if (i != 7)
                             return;
                         std::string quoted = "\"";
                         for (char c : row.substr(0, row.size() - 2))
                             quoted += c == ',' ? std::string("\",\"") : std::string(1, c);
                         row = quoted + "\"\r\n";
                     }),
                     99});
    cases.push_back({"unclosed quote in row 5", Journal99([](int i, std::string& row) {
                         if (i == 4)
                             row.insert(30, "\""); // before the Index
                     }),
                     98, 1, 6, false, 1});
    cases.push_back({"line break in a quoted field", Journal99([](int i, std::string& row) {
                         if (i == 10)
                             row.replace(row.find("DCV V"), 5, "\"DC\r\nV V\"");
                     }),
                     98, 2, 12, false, 1});
    cases.push_back({"every row quoted, one quote unclosed", Journal99([](int i, std::string& row) {
                         row = testing::AllQuoted(row.substr(0, row.size() - 2)) + "\r\n";
                         if (i == 4)
                             row.erase(row.find("\","), 1); // the instant's closing quote
                     }),
                     98, 1, 6, false, 1});
    cases.push_back({"block of zero bytes", Journal99([](int i, std::string& row) {
                         if (i == 40)
                             row = std::string(8192, '\0') + "\r\n" + row;
                     }),
                     99, 1, 42});
    cases.push_back({"line longer than any row", Journal99([](int i, std::string& row) {
                         if (i == 60)
                             row = std::string(3 << 20, 'x') + "\r\n" + row;
                     }),
                     99, 1, 62});
    cases.push_back({"cut last line", Journal99() + Row(99, 99).substr(0, 40), 99, 0, 0, true});
    cases.push_back({"gaps in the Index", Journal99([](int i, std::string& row) {
                         if (i > 3)
                             row = Row(3 + (i - 3) * 7, i);
                     }),
                     99, 0, 0, false, 95});
    cases.push_back({"negative and non-numeric indices", Journal99([](int i, std::string& row) {
                         if (i == 20 || i == 30) {
                             row = Row(0, i);
                             row.replace(row.find(",0,"), 3, i == 20 ? ",-20," : ",x30,");
                         }
                     }),
                     97, 2, 22, false, 2});
    cases.push_back({"byte order mark", "\xEF\xBB\xBF" + Journal99(), 99});
    cases.push_back({"a wrong header field",
                     "DateTime,Index,Value,Type,Time,Price\r\n" + Journal99().substr(CsvHeader().size()), 0,
                     0, 0, false, 0, "not a Zelvox journal"});
    cases.push_back({"empty", std::string(), 0, 0, 0, false, 0, "empty"});
    return cases;
}

// Runs the read on its own thread so that a read that never ends fails the case, not the run.
// The thread outlives the wait and gets a copy of the path that shares nothing with the
// caller's strings.
std::optional<JournalReport> ReadInTime(const QString& path, std::vector<JournalRow>* rows) {
    auto task = std::make_shared<std::packaged_task<JournalReport()>>([file = path.toStdString(), rows] {
        return ReadJournal(QString::fromStdString(file), [rows](std::vector<JournalRow>&& batch) {
            rows->insert(rows->end(), batch.begin(), batch.end());
        });
    });
    std::future<JournalReport> done = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
        return std::nullopt;
    return done.get();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

TEST(JournalLoad, HostileFilesLoadWhatTheyCanAndSaySo) {
    QTemporaryDir tmp;
    for (const Case& c : HostileFiles()) {
        SCOPED_TRACE(c.name);
        const QString path = tmp.filePath(QString::fromLatin1(c.name) + QStringLiteral(".csv"));
        ASSERT_NO_FATAL_FAILURE(WriteFile(path, QByteArray::fromStdString(c.bytes)));
        std::vector<JournalRow> rows;
        const std::optional<JournalReport> read = ReadInTime(path, &rows);
        ASSERT_TRUE(read) << "not read in time";
        const JournalReport& report = *read;
        const QString summary = report.Summary(path);
        if (c.error) {
            EXPECT_FALSE(report.ok);
            EXPECT_TRUE(summary.contains(QLatin1String(c.error))) << summary.toStdString();
            continue;
        }
        ASSERT_TRUE(report.ok) << summary.toStdString();
        EXPECT_EQ(report.rows, c.rows);
        EXPECT_EQ(static_cast<std::int64_t>(rows.size()), c.rows);
        EXPECT_EQ(report.damaged, c.damaged);
        EXPECT_EQ(report.firstDamagedLine, c.firstDamagedLine);
        EXPECT_EQ(report.cutLastLine, c.cut);
        EXPECT_EQ(report.indexGaps, c.gaps);
        // The report names everything left out.
        EXPECT_TRUE(summary.startsWith(QStringLiteral("Loaded %1 rows").arg(c.rows)))
            << summary.toStdString();
        EXPECT_EQ(summary.contains(QStringLiteral("line %1)").arg(c.firstDamagedLine)), c.damaged > 0)
            << summary.toStdString();
        EXPECT_EQ(summary.contains(QStringLiteral("cut short")), c.cut);
        EXPECT_EQ(summary.contains(QStringLiteral("in the Index")), c.gaps > 0);
        // Rows keep the Index and the reading they had in the file.
        for (const JournalRow& row : rows) {
            const Reading want =
                NthReading(row.index > 3 && c.gaps == 95 ? 3 + (row.index - 3) / 7 : row.index);
            ASSERT_EQ(row.reading.value, want.value) << row.index;
            ASSERT_EQ(row.reading.functionCode, want.functionCode) << row.index;
        }
        EXPECT_EQ(report.largestIndex, c.gaps == 95 ? 3 + 95 * 7 : (c.rows > 0 ? 98 : -1));
    }
    // The codec's table: its rows load, each damaged line (and one of 70,000 bytes) costs itself.
    const QString tablePath = tmp.filePath(QStringLiteral("table.csv"));
    ASSERT_NO_FATAL_FAILURE(WriteFile(tablePath, QByteArray::fromStdString(testing::JournalOfTable())));
    std::vector<JournalRow> rows;
    const std::optional<JournalReport> read = ReadInTime(tablePath, &rows);
    ASSERT_TRUE(read) << "not read in time";
    const JournalReport& report = *read;
    std::vector<std::int64_t> indices, wanted;
    std::int64_t damaged = 1;
    for (const testing::JournalLine& l : testing::JournalLineTable()) {
        damaged += l.kind == LineKind::Damaged;
        if (l.kind == LineKind::Row)
            wanted.push_back(l.index);
    }
    wanted.push_back(9);
    for (const JournalRow& row : rows)
        indices.push_back(row.index);
    EXPECT_EQ(indices, wanted);
    EXPECT_EQ(report.rows, static_cast<std::int64_t>(wanted.size()));
    EXPECT_EQ(report.damaged, damaged);
    EXPECT_FALSE(report.cutLastLine);

    // Not regular files: refused at once, never waited on.
    ASSERT_EQ(::mkfifo(QFile::encodeName(tmp.filePath(QStringLiteral("fifo"))).constData(), 0600), 0);
    const std::pair<QString, const char*> refused[] = {
        {tmp.filePath(QStringLiteral("fifo")), "FIFO"},
        {QStringLiteral("/dev/zero"), "a device"},
        {tmp.path(), "a folder"},
        {tmp.filePath(QStringLiteral("missing")), "No such file"}};
    for (const auto& [path, why] : refused) {
        SCOPED_TRACE(why);
        std::vector<JournalRow> rows;
        const std::optional<JournalReport> report = ReadInTime(path, &rows);
        ASSERT_TRUE(report) << "not read in time";
        EXPECT_FALSE(report->ok);
        EXPECT_TRUE(report->Summary(path).contains(QLatin1String(why)))
            << report->Summary(path).toStdString();
    }
}

QString Name(int minute) {
    return QStringLiteral("2026-12-08T10-%1-00.csv").arg(minute, 2, 10, QLatin1Char('0'));
}

TEST(JournalLoad, PruningSparesTheLoadedFileInterruptedRunsAndCountsOnlyTheOthers) {
    QTemporaryDir tmp;
    const QString dir = tmp.filePath(QStringLiteral("recordings"));
    ASSERT_TRUE(QDir().mkpath(dir));
    const auto path = [&](int minute) { return dir + QLatin1Char('/') + Name(minute); };
    // 51 journals: the oldest is the one being loaded.
    for (int i = 0; i < 51; ++i)
        ASSERT_NO_FATAL_FAILURE(WriteFile(path(i), QByteArray(100, 'x')));
    PruneRules rules;
    rules.keepBytes = 1 << 30;
    rules.keep = [&](const std::string& p) { return p == path(0).toStdString(); };
    EXPECT_EQ(PruneJournals(dir.toStdString(), rules).removed, 0) << "50 others fit";
    EXPECT_TRUE(QFile::exists(path(0)));
    rules.keepBytes = 4999;
    EXPECT_EQ(PruneJournals(dir.toStdString(), rules).removed, 1);
    EXPECT_FALSE(QFile::exists(path(1)));
    EXPECT_TRUE(QFile::exists(path(0)));

    // An interrupted run over the whole budget, among journals that fit it.
    QDir(dir).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(dir));
    for (int i = 0; i < 10; ++i)
        ASSERT_NO_FATAL_FAILURE(WriteFile(path(i), QByteArray(i == 5 ? 6000 : 1000, 'x')));
    QFile(dir + QStringLiteral("/.") + Name(5) + QStringLiteral(".open")).open(QIODevice::WriteOnly);
    const auto startUp = [&] {
        Journal journal(dir);
        PruneRules budget;
        budget.keepBytes = 5000;
        return journal.Start(budget);
    };
    JournalStartup startup = startUp();
    EXPECT_EQ(
        startup.Notices(),
        (QStringList{QStringLiteral("Interrupted recording: %1 (6,000 bytes), kept until loaded with --load")
                         .arg(path(5)),
                     QStringLiteral("Removed %1: 0 seconds, 0 readings, 1,000 bytes").arg(Name(3)),
                     QStringLiteral("Removed %1: 0 seconds, 0 readings, 1,000 bytes").arg(Name(2)),
                     QStringLiteral("Removed %1: 0 seconds, 0 readings, 1,000 bytes").arg(Name(1)),
                     QStringLiteral("Removed %1: 0 seconds, 0 readings, 1,000 bytes").arg(Name(0))}))
        << "9, 8, 7, 6 and 4 fit the budget";
    EXPECT_TRUE(QFile::exists(path(5)));
    EXPECT_TRUE(QFile::exists(path(4)));
    EXPECT_FALSE(QFile::exists(path(3)));
    // Not loaded yet: named and kept again.
    startup = startUp();
    ASSERT_EQ(startup.interrupted.size(), 1u);
    EXPECT_EQ(startup.interrupted[0].path, path(5).toStdString());
    EXPECT_EQ(startup.pruned.removed, 0);
    // Loaded: an ordinary journal, over the budget, so it and the older one go.
    ForgetInterrupted(path(5).toStdString());
    startup = startUp();
    EXPECT_TRUE(startup.interrupted.empty());
    EXPECT_EQ(startup.pruned.removed, 2);
    EXPECT_FALSE(QFile::exists(path(5)));
    EXPECT_EQ(QDir(dir).entryList({QStringLiteral("*.csv")}, QDir::Files).size(), 4);
}

} // namespace
} // namespace zelvox
