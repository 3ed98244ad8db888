// The publisher against a real mosquitto: backlog and live rows through a broker that stops,
// is killed, and is not there at first, counted at a persistent QoS 1 subscriber against the
// journals, with the publisher's state, backlog and sidecars on the way. (TLS and a refused
// password are tested through zelvox-decode, tests/tools/PublishingLoggerTest.cpp.)
#include "publish/Publisher.h"
#include "publish/Outbox.h"
#include "publish/PublishTestSupport.h"
#include "support/Broker.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <iostream>
#include <thread>

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

TEST_F(PublisherTest, ABrokerKilledTenTimesDuringBurstsGetsEveryRowOfTheRunInIndexOrder) {
    Broker broker(tmp.path());
    std::string why;
    ASSERT_TRUE(broker.Start(&why)) << why;
    Subscriber sub(broker.Port(), "lab-sink", "lab/bench/reading");
    ASSERT_TRUE(sub.Start());
    Publisher p(Options(broker.Port()));
    ASSERT_TRUE(p.Start(&why)) << why;

    // Bursts of rows all the while; each kill finds rows in flight.
    const std::string run = Journal("2026-12-08T12-00-00.csv");
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        int next = 1;
        while (writing.load()) {
            testing::WriteJournal(run, 8, next);
            next += 8;
            p.Appended(run);
            QThread::msleep(15);
        }
    });
    for (int kill = 0; kill < 10; ++kill) {
        // Long enough for the subscriber to be back and the broker to have saved its queue.
        QThread::msleep(2200);
        broker.Stop(SIGKILL);
        QThread::msleep(300);
        ASSERT_TRUE(broker.Start(&why)) << why;
    }
    writing.store(false);
    writer.join();
    ASSERT_TRUE(AllArrived(sub, 20000))
        << CountDelivery(journals, sub.Messages()).Describe() << "; " << DescribeStatus(p.Status());
    const testing::Delivery d = CountDelivery(journals, sub.Messages());
    std::cout << "broker killed 10 times during bursts: " << d.Describe() << "\n";
    EXPECT_TRUE(d.Exact()) << d.Describe();
}

} // namespace
} // namespace zelvox
