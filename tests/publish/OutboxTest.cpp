// The outbox sidecars, which journals still have rows to send, and the outbox cursor.
#include "publish/Outbox.h"

#include "decode/Reading.h"
#include "journal/Journal.h"
#include "publish/PublishTestSupport.h"
#include "record/JournalFolder.h"
#include "record/RowCodec.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

namespace zelvox {
namespace {

TEST(Outbox, SidecarsSayWhichJournalsStillHaveRowsToSendOldestFirst) {
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    const std::string target = "mqtt://127.0.0.1:1883/lab";
    // Runs of the same second sort by their suffix, not as text (_10 after _2).
    const std::string names[] = {"2026-12-08T10-42-06_10", "2026-12-08T10-42-06", "2026-12-08T10-42-06_2",
                                 "2026-12-07T23-00-00"};
    for (const std::string& n : names)
        testing::WriteJournal(dir + "/" + n + ".csv", 3);
    const auto offsets = testing::WriteJournal(dir + "/2026-12-09T08-00-00.csv", 3);
    testing::WriteJournal(dir + "/2026-12-01T08-00-00.csv", 0); // a header only
    testing::WriteJournal(dir + "/notes.csv", 3);               // rows, but not a journal's name

    const auto mark = [&](const std::string& name, std::uint64_t rows, std::uint64_t offset,
                          const std::string& t) {
        std::ofstream(OutboxSidecarPath(dir + "/" + name + ".csv")) << FormatOutboxMark({t, rows, offset});
    };
    mark("2026-12-09T08-00-00", 3, offsets[3], target);         // all acknowledged
    mark("2026-12-08T10-42-06_2", 1, offsets[1], target);       // two to go
    mark("2026-12-08T10-42-06", 0, 0, "mqtt://other:1883/lab"); // for another broker
    EXPECT_FALSE(JournalHasUnsentTail(dir + "/2026-12-09T08-00-00.csv"));
    EXPECT_TRUE(JournalHasUnsentTail(dir + "/2026-12-08T10-42-06_2.csv"));
    EXPECT_TRUE(JournalHasUnsentTail(dir + "/2026-12-08T10-42-06.csv"));
    EXPECT_FALSE(JournalHasUnsentTail(dir + "/2026-12-07T23-00-00.csv")); // never published

    OutboxMark read;
    ASSERT_TRUE(ReadOutboxMark(OutboxSidecarPath(dir + "/2026-12-08T10-42-06_2.csv"), read));
    EXPECT_EQ(read.target, target);
    EXPECT_EQ(read.ackedRows, 1u);
    EXPECT_EQ(read.ackedOffset, offsets[1]);

    const auto names_ = [&](bool adopt) {
        std::string s;
        for (const std::string& p : JournalsToSend(dir, target, adopt))
            s += RunIdOf(p) + " ";
        return s;
    };
    EXPECT_EQ(names_(false), "2026-12-08T10-42-06_2 ");
    EXPECT_EQ(names_(true), "2026-12-07T23-00-00 2026-12-08T10-42-06_2 2026-12-08T10-42-06_10 ");

    // Pruning down to nothing spares only the journal with rows for the broker this run
    // publishes to; the rows another broker never had are said as they go, with the sidecars.
    PruneRules rules;
    rules.keepFiles = 0;
    rules.publishingTo = target;
    const PruneResult pruned = PruneJournals(dir, rules);
    EXPECT_EQ(
        DescribePrune(pruned),
        "Removed 4 old journals; removed 1 journal with 3 readings never sent to mqtt://other:1883/lab");
    EXPECT_EQ(QDir(tmp.path()).entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name),
              (QStringList{"2026-12-08T10-42-06_2.csv", "notes.csv"}));
    EXPECT_FALSE(
        QFileInfo::exists(QString::fromStdString(OutboxSidecarPath(dir + "/2026-12-08T10-42-06.csv"))));
}

// The cursor on its own: rows handed out in order up to the window, a damaged line passed over
// in its place, nothing new after a reconnect until every row then in flight is acknowledged,
// and the sidecar holding how far the broker acknowledged.
TEST(Outbox, TheCursorSendsNothingNewAfterAReconnectBeforeEveryResendIsAcknowledged) {
    QTemporaryDir tmp;
    const std::string path = tmp.path().toStdString() + "/2026-12-08T10-42-06.csv";
    std::string text = CsvHeader();
    for (int i = 1; i <= 6; ++i) {
        text += CsvLine(MakeDispatchedReading(1, i, WallTimeAt(1765190526000 + i), testing::RowReading(i)));
        if (i == 3)
            text += "a damaged line\n";
    }
    std::ofstream(path, std::ios::binary) << text;
    Outbox outbox("mqtt://127.0.0.1:1883/lab", "zelvox-test",
                  [](const std::string& said) { ADD_FAILURE() << said; });
    outbox.Adopt(path);
    EXPECT_EQ(outbox.Backlog(), 7u);
    std::vector<std::int64_t> sent;
    int mids = 0;
    const auto send = [&](const JournalRow& row, const std::string& run, int* mid) {
        EXPECT_EQ(run, "zelvox-test/2026-12-08T10-42-06");
        sent.push_back(row.index);
        *mid = ++mids;
        return true;
    };
    ASSERT_TRUE(outbox.Fill(3, send));
    EXPECT_EQ(sent, (std::vector<std::int64_t>{1, 2, 3}));
    outbox.Reconnected(); // rows 1 to 3 go again by the library
    outbox.Acknowledge({2, 3});
    outbox.Fill(8, send); // room in the window, but row 1 is not acknowledged yet
    EXPECT_EQ(sent.size(), 3u);
    outbox.Acknowledge({1});
    outbox.Fill(8, send);
    EXPECT_EQ(sent, (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(outbox.Acknowledge({4, 5, 6}), 0u); // no row held in memory among them
    EXPECT_EQ(outbox.Backlog(), 0u);
    EXPECT_EQ(outbox.Acknowledged(), 6u);
    outbox.SyncMarks(true);
    OutboxMark mark;
    ASSERT_TRUE(ReadOutboxMark(OutboxSidecarPath(path), mark));
    EXPECT_EQ(mark.ackedRows, 7u); // the damaged line counted in its place
    EXPECT_EQ(mark.ackedOffset, text.size());
}

} // namespace
} // namespace zelvox
