// The outbox sidecars, and which journals still have rows to send.
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
    rules.keepBytes = 0;
    rules.publishingTo = target;
    const std::string said = DescribePrune(PruneJournals(dir, rules));
    EXPECT_TRUE(said.starts_with("Removed 2026-12-09T08-00-00.csv: ") &&
                std::count(said.begin(), said.end(), '\n') == 5 &&
                said.ends_with("\nRemoved 1 journal with 3 readings never sent to mqtt://other:1883/lab"))
        << said;
    EXPECT_EQ(QDir(tmp.path()).entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name),
              (QStringList{"2026-12-08T10-42-06_2.csv", "notes.csv"}));
    EXPECT_FALSE(
        QFileInfo::exists(QString::fromStdString(OutboxSidecarPath(dir + "/2026-12-08T10-42-06.csv"))));
}

} // namespace
} // namespace zelvox
