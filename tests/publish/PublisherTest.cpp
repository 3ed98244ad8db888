// The publisher against a real mosquitto: backlog and live rows through a broker that stops,
// is killed, and is not there at first, counted at a persistent QoS 1 subscriber against the
// journals, with the publisher's state, backlog and sidecars on the way. (TLS and a refused
// password are tested through zelvox-decode, tests/tools/PublishingLoggerTest.cpp.)
#include "publish/Publisher.h"
#include "publish/PublishTestSupport.h"
#include "record/JournalFolder.h"
#include "support/Broker.h"
#include "support/JournalLines.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>

namespace zelvox {
namespace {

using testing::Broker;
using testing::CountDelivery;
using testing::Subscriber;

bool WaitForStatus(const Publisher& p, const std::function<bool(const PublisherStatus&)>& done,
                   int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done(p.Status())) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

class PublisherTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        journals = tmp.filePath(QStringLiteral("journals"));
        QDir().mkpath(journals);
    }
    std::string Journal(const char* name) const { return (journals + QLatin1Char('/') + name).toStdString(); }
    PublisherOptions Options(int port) const {
        PublisherOptions o;
        ParseMqttUrl("mqtt://127.0.0.1:" + std::to_string(port) + "/lab/bench", o.target, nullptr);
        o.clientId = "zelvox-test-bench";
        o.journalDir = journals.toStdString();
        o.firstRetryMs = 200;
        o.maxRetryMs = 1000;
        o.window = 16; // small, so that outages find messages in flight
        return o;
    }
    // Appends n rows to the journal at path, a few at a time, nudging the publisher.
    static void AppendLive(Publisher& p, const std::string& path, int& next, int n) {
        for (int i = 0; i < n; i += 5) {
            testing::WriteJournal(path, 5, next);
            next += 5;
            p.Appended(path);
            QThread::msleep(20);
        }
    }
    bool AllArrived(Subscriber& sub, int timeoutMs) {
        return sub.WaitFor([&](const auto& m) { return CountDelivery(journals, m).missing == 0; }, timeoutMs);
    }

    QTemporaryDir tmp;
    QString journals;
};

TEST_F(PublisherTest, OldTailsFirstThenLiveRowsThroughAStoppedAKilledAndAMissingBroker) {
    Broker broker(tmp.path());
    std::string why;
    ASSERT_TRUE(broker.Start(&why)) << why;
    Subscriber sub(broker.Port(), "lab-sink", "lab/bench/reading");
    ASSERT_TRUE(sub.Start());

    // A first life: 20 rows published, then 30 more written that it never sent (a crash).
    const std::string first = Journal("2026-12-08T10-00-00.csv");
    int nextFirst = 1;
    {
        Publisher p(Options(broker.Port()));
        ASSERT_TRUE(p.Start(&why)) << why;
        AppendLive(p, first, nextFirst, 20);
        ASSERT_TRUE(AllArrived(sub, 10000)) << CountDelivery(journals, sub.Messages()).Describe();
    }
    EXPECT_FALSE(JournalHasUnsentTail(first));
    testing::WriteJournal(first, 30, nextFirst);
    EXPECT_TRUE(JournalHasUnsentTail(first));

    // The next life starts while the broker is away, and writes a new run meanwhile.
    broker.Stop(SIGTERM);
    Publisher p(Options(broker.Port()));
    ASSERT_TRUE(p.Start(&why)) << why;
    const std::string second = Journal("2026-12-08T11-00-00.csv");
    int next = 1;
    AppendLive(p, second, next, 20);
    ASSERT_TRUE(WaitForStatus(
        p, [](const auto& s) { return s.state == BrokerState::Waiting; }, 5000));
    EXPECT_NE(p.Status().detail.find("refused"), std::string::npos) << p.Status().detail;
    ASSERT_TRUE(WaitForStatus(
        p, [](const auto& s) { return s.backlog == 50; }, 3000))
        << DescribeStatus(p.Status());

    ASSERT_TRUE(broker.Start(&why)) << why;
    AppendLive(p, second, next, 40);
    broker.Stop(SIGKILL); // whatever it had not acknowledged must come again
    AppendLive(p, second, next, 20);
    ASSERT_TRUE(broker.Start(&why)) << why;
    AppendLive(p, second, next, 20);

    ASSERT_TRUE(AllArrived(sub, 20000))
        << CountDelivery(journals, sub.Messages()).Describe() << "; " << DescribeStatus(p.Status());
    const testing::Delivery d = CountDelivery(journals, sub.Messages());
    EXPECT_TRUE(d.Exact()) << d.Describe();
    EXPECT_EQ(d.journalRows, 50 + 100);
    std::cout << "after a broker killed with autosave_interval 1: " << d.Describe() << "\n";
    ASSERT_TRUE(WaitForStatus(
        p, [](const auto& s) { return s.state == BrokerState::Online && s.backlog == 0; }, 5000))
        << DescribeStatus(p.Status());
    p.Stop();
    for (const std::string& j : {first, second}) {
        OutboxMark mark;
        ASSERT_TRUE(ReadOutboxMark(OutboxSidecarPath(j), mark));
        EXPECT_EQ(mark.ackedRows, j == first ? 50u : 100u);
        EXPECT_FALSE(JournalHasUnsentTail(j));
    }
}

TEST_F(PublisherTest, DamagedAndOverlongLinesCostThemselvesAndTheBacklogCountsEveryRowAfterThem) {
    Broker broker(tmp.path());
    std::string why;
    ASSERT_TRUE(broker.Start(&why)) << why;
    Subscriber sub(broker.Port(), "lab-sink", "lab/bench/reading");
    ASSERT_TRUE(sub.Start());
    const std::string path = Journal("2026-12-08T10-00-00.csv");
    std::ofstream(path, std::ios::binary) << testing::JournalOfTable();
    std::vector<std::string> wanted;
    for (const testing::JournalLine& l : testing::JournalLineTable())
        if (l.kind == LineKind::Row) {
            JournalRow row;
            ReadJournalLine(l.line, row);
            wanted.emplace_back();
            BrokerMessage(row, "2026-12-08T10-00-00", wanted.back());
        }
    std::string last;
    JournalRow row;
    ReadJournalLine(testing::GoodLine(9), row);
    BrokerMessage(row, "2026-12-08T10-00-00", last);
    wanted.push_back(last);

    // Before the broker has it, every row waits, the ones after the long line too.
    PublisherOptions options = Options(broker.Port());
    options.adoptUnmarked = true;
    options.firstRetryMs = 60000;
    broker.Stop(SIGTERM);
    {
        Publisher p(options);
        ASSERT_TRUE(p.Start(&why)) << why;
        ASSERT_TRUE(WaitForStatus(
            p, [](const auto& s) { return s.state == BrokerState::Waiting; }, 5000));
        const std::string text = testing::JournalOfTable();
        const auto lines = static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
        EXPECT_EQ(p.Status().backlog, lines - 1) << DescribeStatus(p.Status());
    }
    ASSERT_TRUE(broker.Start(&why)) << why;
    Publisher p(Options(broker.Port()));
    ASSERT_TRUE(p.Start(&why)) << why;
    ASSERT_TRUE(sub.WaitFor([&](const auto& m) { return m.size() >= wanted.size(); }, 10000));
    ASSERT_TRUE(WaitForStatus(
        p, [](const auto& s) { return s.backlog == 0; }, 5000))
        << DescribeStatus(p.Status());
    EXPECT_EQ(sub.Messages(), wanted);
}

} // namespace
} // namespace zelvox
