// The publisher against a real mosquitto: backlog and live rows through a broker that stops,
// is killed, and is not there at first, counted at a persistent QoS 1 subscriber against the
// journals, with the publisher's state, backlog and sidecars on the way. (TLS and a refused
// password are tested through zelvox-decode, tests/tools/PublishingLoggerTest.cpp.)
#include "publish/Publisher.h"
#include "journal/Journal.h"
#include "publish/PublishTestSupport.h"
#include "record/JournalFolder.h"
#include "support/Broker.h"
#include "support/JournalLines.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

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
        ASSERT_TRUE(broker.Start(&why)) << why;
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
    // What the subscriber got, counted against the journals.
    testing::Delivery Delivered() const { return CountDelivery(journals, sub.Messages()); }
    bool AllArrived(int timeoutMs) {
        return sub.WaitFor([&](const auto& m) { return CountDelivery(journals, m).missing == 0; }, timeoutMs);
    }
    // Online with nothing left to send.
    static bool Drained(const Publisher& p, int timeoutMs) {
        return WaitForStatus(
            p, [](const auto& s) { return s.state == BrokerState::Online && s.backlog == 0; }, timeoutMs);
    }

    QTemporaryDir tmp;
    QString journals;
    std::string why;
    Broker broker{tmp.path()};                                      // started for each case
    Subscriber sub{broker.Port(), "lab-sink", "lab/bench/reading"}; // persistent, QoS 1
};

TEST_F(PublisherTest, OldTailsFirstThenLiveRowsThroughAStoppedAKilledAndAMissingBroker) {
    ASSERT_TRUE(sub.Start());

    // A first life: 20 rows published, then 10 more as a live run writes them (one every
    // 300 ms: the row on its way is not said to be waiting once it has been handed over),
    // then 20 more written that it never sent (a crash).
    const std::string first = Journal("2026-12-08T10-00-00.csv");
    int nextFirst = 1;
    {
        Publisher p(Options(broker.Port()));
        ASSERT_TRUE(p.Start(&why)) << why;
        AppendLive(p, first, nextFirst, 20);
        for (int i = 0; i < 10; ++i) {
            testing::WriteJournal(first, 1, nextFirst++);
            p.Appended(first);
            if (i >= 5) { // past the first counters said after the burst
                EXPECT_TRUE(WaitForStatus(
                    p, [](const auto& s) { return s.backlog == 0; }, 250))
                    << DescribeStatus(p.Status());
            }
            QThread::msleep(300);
        }
        ASSERT_TRUE(AllArrived(10000)) << Delivered().Describe();
    }
    EXPECT_FALSE(JournalHasUnsentTail(first));
    testing::WriteJournal(first, 20, nextFirst);
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
        p, [](const auto& s) { return s.backlog == 40; }, 3000))
        << DescribeStatus(p.Status());

    ASSERT_TRUE(broker.Start(&why)) << why;
    AppendLive(p, second, next, 40);
    broker.Stop(SIGKILL); // whatever it had not acknowledged must come again
    AppendLive(p, second, next, 20);
    ASSERT_TRUE(broker.Start(&why)) << why;
    AppendLive(p, second, next, 20);

    ASSERT_TRUE(AllArrived(20000)) << Delivered().Describe() << "; " << DescribeStatus(p.Status());
    const testing::Delivery d = Delivered();
    EXPECT_TRUE(d.Exact()) << d.Describe();
    EXPECT_EQ(d.journalRows, 50 + 100);
    std::cout << "after a broker killed with autosave_interval 1: " << d.Describe() << "\n";
    ASSERT_TRUE(Drained(p, 5000)) << DescribeStatus(p.Status());
    p.Stop();
    for (const std::string& j : {first, second}) {
        OutboxMark mark;
        ASSERT_TRUE(ReadOutboxMark(OutboxSidecarPath(j), mark));
        EXPECT_EQ(mark.ackedRows, j == first ? 50u : 100u);
        EXPECT_FALSE(JournalHasUnsentTail(j));
    }
}

TEST_F(PublisherTest, ABrokerKilledTenTimesDuringBurstsGetsEveryRowOfTheRunInIndexOrder) {
    ASSERT_TRUE(sub.Start());
    QThread::msleep(1500); // the broker has saved the subscriber's session: a kill keeps it
    // The default window: after a kill up to 256 rows wait to be sent again.
    PublisherOptions options = Options(broker.Port());
    options.window = 256;
    Publisher p(options);
    ASSERT_TRUE(p.Start(&why)) << why;

    // Bursts of rows; each kill finds a burst in flight. Before it, the subscriber has every
    // earlier row: a killed broker loses what it acknowledged but had neither saved nor passed
    // on, and that loss would be the broker's, not the publisher's.
    const std::string run = Journal("2026-12-08T12-00-00.csv");
    int next = 1;
    const auto burst = [&] {
        testing::WriteJournal(run, 32, next);
        next += 32;
        p.Appended(run);
    };
    for (int kill = 0; kill < 10; ++kill) {
        for (int i = 0; i < 15; ++i) {
            burst();
            QThread::msleep(40);
        }
        // The last row written has arrived (rows arrive in order: that is what is counted).
        const std::string last = "\"index\":" + std::to_string(next - 1) + "}";
        sub.WaitFor(
            [&](const auto& m) {
                return std::any_of(m.rbegin(), m.rend(),
                                   [&](const std::string& s) { return s.ends_with(last); });
            },
            10000);
        // Frozen, then killed: the burst is on its way and not one row of it acknowledged.
        ::kill(broker.Pid(), SIGSTOP);
        burst();
        QThread::msleep(50);
        broker.Stop(SIGKILL);
        burst();
        QThread::msleep(300);
        ASSERT_TRUE(broker.Start(&why)) << why;
    }
#if defined(__SANITIZE_THREAD__)
    // Slowed down by ThreadSanitizer, the subscriber may not have caught up before a kill, and
    // the broker then loses rows it acknowledged but neither saved nor passed on: that loss is
    // the broker's. The order is still checked.
    ASSERT_TRUE(Drained(p, 20000));
    AllArrived(5000);
    const testing::Delivery d = Delivered();
    EXPECT_EQ(d.outOfOrder + d.invented, 0) << d.Describe();
#else
    ASSERT_TRUE(AllArrived(20000)) << Delivered().Describe() << "; " << DescribeStatus(p.Status());
    const testing::Delivery d = Delivered();
    EXPECT_TRUE(d.Exact()) << d.Describe();
#endif
    std::cout << "broker killed 10 times during bursts: " << d.Describe() << "\n";
}

// A TCP server on a free loopback port that is no MQTT broker: silent (takes connections and
// never answers) or speaking HTTP to whoever connects.
class NotABroker {
public:
    explicit NotABroker(bool speaks) : port_(testing::FreeLoopbackPort()) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<std::uint16_t>(port_));
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(fd_, 16);
        if (speaks)
            thread_ = std::thread([this] {
                for (;;) {
                    const int c = ::accept(fd_, nullptr, nullptr);
                    if (c < 0)
                        return;
                    const std::string reply =
                        "HTTP/1.1 400 Bad Request\r\nContent-Type: text/html\r\n\r\n" + std::string(200, 'x');
                    [[maybe_unused]] const ssize_t n = ::write(c, reply.data(), reply.size());
                    clients_.push_back(c); // kept open: the client must make sense of what it got
                }
            });
    }
    ~NotABroker() {
        ::shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        for (const int c : clients_)
            ::close(c);
        ::close(fd_);
    }
    int Port() const { return port_; }

private:
    int port_, fd_;
    std::thread thread_;
    std::vector<int> clients_;
};

TEST_F(PublisherTest, RetainedMessagesKeepTheirLatestPayloadAndAreSentOnceReachable) {
    broker.Stop(SIGTERM);
    Publisher p(Options(broker.Port()));
    ASSERT_TRUE(p.Start(&why)) << why;
    p.Retain("lab/bench/alarm/high", "firing"); // while the broker is away
    p.Retain("lab/bench/alarm/low", "firing");
    p.Retain("lab/bench/alarm/high", "ok");
    ASSERT_TRUE(broker.Start(&why)) << why;
    ASSERT_TRUE(Drained(p, 10000)) << DescribeStatus(p.Status());
    p.Retain("lab/bench/alarm/low", "ok"); // a clean end's last word
    p.Stop();
    Subscriber alarms{broker.Port(), "alarm-sink", "lab/bench/alarm/#"};
    ASSERT_TRUE(alarms.Start());
    ASSERT_TRUE(alarms.WaitFor([](const auto& m) { return m.size() >= 2; }, 5000));
    QThread::msleep(300); // nothing more comes: the earlier payloads were replaced
    EXPECT_EQ(alarms.Messages(), (std::vector<std::string>{"ok", "ok"}));
}

TEST_F(PublisherTest, EachFaultOnTheWayToTheBrokerIsSaidInItsOwnWords) {
    NotABroker silent(false), http(true);
    struct Case {
        const char* what;
        int port;
        const char* clientId;
        const char* said;
        int kills = 0; // the broker killed within a second of each of so many connections
    };
    const Case cases[] = {
        {"a server that never answers", silent.Port(), "zelvox-test-a",
         "no answer from the broker at 127.0.0.1:"},
        {"an HTTP server", http.Port(), "zelvox-test-b", "does not speak MQTT"},
        // Two publishers with one id: the broker closes each as the other connects. Mosquitto
        // 2.0.11 closes the socket before its DISCONNECT (session taken over) is out.
        {"a taken-over id", broker.Port(), "zelvox-test-twin",
         "the broker closed the connection right after accepting it, 3 times"},
        // A crash-looping broker is no takeover, and the pauses stay at most 8 s.
        {"a broker killed 5 times", broker.Port(), "zelvox-test-c", "connection lost", 5},
    };
    for (const Case& c : cases) {
        PublisherOptions o = Options(c.port);
        o.clientId = c.clientId;
        o.answerTimeoutMs = 1000;
        o.maxRetryMs = 8000;
        std::mutex mutex;
        std::vector<std::string> said;
        Publisher p(o), twin(o);
        p.OnStatus([&](const PublisherStatus& s) {
            std::lock_guard lock(mutex);
            said.push_back(s.detail);
        });
        ASSERT_TRUE(p.Start(&why)) << why;
        if (c.port == broker.Port() && c.kills == 0) {
            ASSERT_TRUE(twin.Start(&why)) << why;
        }
        for (int kill = 0; kill < c.kills; ++kill) {
            ASSERT_TRUE(WaitForStatus(
                p, [](const auto& s) { return s.state == BrokerState::Online; }, 9000 + 2000 * (kill > 0)))
                << c.what << ", kill " << kill << ": " << DescribeStatus(p.Status());
            QThread::msleep(200);
            broker.Stop(SIGKILL);
            ASSERT_TRUE(broker.Start(&why)) << why;
        }
        const auto saidIt = [&] {
            std::lock_guard lock(mutex);
            return std::any_of(said.begin(), said.end(),
                               [&](const std::string& d) { return d.find(c.said) != std::string::npos; });
        };
        for (QDeadlineTimer deadline(10000); !saidIt() && !deadline.hasExpired();)
            QThread::msleep(20);
        std::lock_guard lock(mutex);
        std::string all;
        for (const std::string& detail : said) {
            all += detail + "; ";
            EXPECT_EQ(detail.find("another client uses"), std::string::npos) << c.what << ": " << detail;
        }
        EXPECT_NE(all.find(c.said), std::string::npos) << c.what << ": " << all;
    }
}

TEST_F(PublisherTest, ABrokerThatStopsAcknowledgingIsLeftAndEveryRowArrivesOnceItWakes) {
    ASSERT_TRUE(sub.Start());
    PublisherOptions o = Options(broker.Port());
    o.ackTimeoutMs = 1000;
    o.answerTimeoutMs = 1000;
    Publisher p(o);
    ASSERT_TRUE(p.Start(&why)) << why;
    const std::string run = Journal("2026-12-08T13-00-00.csv");
    int next = 1;
    AppendLive(p, run, next, 20);
    ASSERT_TRUE(AllArrived(10000));

    // A broker that holds the connection and answers nothing (stopped, not gone).
    ::kill(static_cast<pid_t>(broker.Pid()), SIGSTOP);
    AppendLive(p, run, next, 20);
    EXPECT_TRUE(WaitForStatus(
        p, [](const auto& s) { return s.detail.find("acknowledged nothing for 1 s") != std::string::npos; },
        5000))
        << DescribeStatus(p.Status());
    ::kill(static_cast<pid_t>(broker.Pid()), SIGCONT);
    AppendLive(p, run, next, 20);
    ASSERT_TRUE(AllArrived(15000)) << Delivered().Describe();
    EXPECT_TRUE(Delivered().Exact());
    EXPECT_TRUE(Drained(p, 5000)) << DescribeStatus(p.Status());
}

TEST_F(PublisherTest, DamagedAndOverlongLinesCostThemselvesAndTheBacklogCountsEveryRowAfterThem) {
    ASSERT_TRUE(sub.Start());
    const std::string path = Journal("2026-12-08T10-00-00.csv");
    std::ofstream(path, std::ios::binary) << testing::JournalOfTable();
    std::vector<std::string> wanted; // the message of each row, the good line after the table's last
    const auto want = [&](const std::string& line) {
        JournalRow row;
        ReadJournalLine(line, row);
        BrokerMessage(row, PublishedRunId("zelvox-test-bench", path), wanted.emplace_back());
    };
    for (const testing::JournalLine& l : testing::JournalLineTable())
        if (l.kind == LineKind::Row)
            want(l.line);
    want(testing::GoodLine(9));

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

// Each sidecar state, for a journal this run is writing (handed over live) and for one found at
// start-up that was made while publishing to this broker: by the window (only its own journals)
// and by the logger (every journal without a sidecar). Each is sent again from the start, and
// said once.
TEST_F(PublisherTest, ASidecarThatCannotBeTrustedSendsItsJournalAgainFromTheStartAndSaysSo) {
    ASSERT_TRUE(sub.Start());
    const PublisherOptions options = Options(broker.Port());
    const std::string target = options.target.Name();
    struct Case {
        const char* name;                   // live: the journal's name
        std::optional<std::string> sidecar; // none: removed
        const char* said;
        bool live; // handed over while this run writes it; else found at start-up
    };
    const Case cases[] = {
        {"2026-12-08T14-00-00.csv", FormatOutboxMark({target, 99, 99999}),
         "its sidecar counts more than the journal holds", true},
        {"2026-12-08T14-00-01.csv", "not a sidecar\n", "its sidecar cannot be read", true},
        {"2026-12-08T14-00-02.csv", FormatOutboxMark({"mqtt://elsewhere:1883/lab", 3, 0}),
         "its sidecar names mqtt://elsewhere:1883/lab", true},
        {nullptr, std::nullopt, "its sidecar is missing", false},
        {nullptr, "not a sidecar\n", "its sidecar cannot be read", false},
        {nullptr, FormatOutboxMark({target, 99, 99999}), "its sidecar counts more than the journal holds",
         false},
    };
    {
        Publisher p(options);
        ASSERT_TRUE(p.Start(&why)) << why;
        for (const Case& c : cases) {
            if (!c.live)
                continue;
            const std::string path = Journal(c.name);
            testing::WriteJournal(path, 10);
            std::ofstream(OutboxSidecarPath(path)) << *c.sidecar;
            p.Appended(path);
            EXPECT_TRUE(WaitForStatus(
                p, [&](const auto& s) { return s.notice.find(c.said) != std::string::npos; }, 5000))
                << c.name << ": " << p.Status().notice;
        }
        ASSERT_TRUE(AllArrived(10000)) << Delivered().Describe();
        EXPECT_TRUE(Delivered().Exact());
    }

    for (const bool logger : {false, true}) {
        const char* program = logger ? "logger" : "window";
        const QString dir = tmp.filePath(QString::fromLatin1(program));
        PruneRules rules;
        rules.publishingTo = target;
        std::vector<std::string> expected; // the notice for each journal, said once
        std::int64_t startMs = 1765206000000;
        for (const Case& c : cases) {
            if (c.live)
                continue;
            // Written by the journal while publishing to the broker, then its sidecar damaged.
            zelvox::Journal journal(dir);
            ASSERT_TRUE(journal.Start(rules).ok);
            const WallTime start = WallTimeAt(startMs += 60000);
            for (int i = 1; i <= 10; ++i)
                journal.Append(
                    MakeDispatchedReading(1, i, WallTimeAt(start.EpochMs() + i), testing::RowReading(i)));
            const std::string path = journal.CurrentFile().toStdString();
            journal.Close();
            if (RecordedJournalTarget(path) != target)
                GTEST_SKIP() << "this file system keeps no user attributes: the sidecar alone counts";
            if (c.sidecar)
                std::ofstream(OutboxSidecarPath(path)) << *c.sidecar;
            expected.push_back("journal " + RunIdOf(path) + ": " + c.said +
                               "; sending it again from the start");
        }
        PublisherOptions o = options;
        o.clientId = std::string("zelvox-test-") + program;
        o.journalDir = dir.toStdString();
        o.adoptUnmarked = logger;
        std::mutex mutex;
        std::vector<std::string> notices;
        Publisher p(o);
        p.OnStatus([&, last = std::string()](const PublisherStatus& s) mutable {
            std::lock_guard lock(mutex);
            if (s.notice != last && !s.notice.empty())
                notices.push_back(s.notice);
            last = s.notice;
        });
        ASSERT_TRUE(p.Start(&why)) << why;
        const auto own = [&](const auto& m) { return testing::MessagesOf(m, o.clientId); };
        sub.WaitFor([&](const auto& m) { return CountDelivery(dir, own(m)).missing == 0; }, 10000);
        const testing::Delivery d = CountDelivery(dir, own(sub.Messages()));
        EXPECT_TRUE(d.Exact()) << program << ": " << d.Describe();
        EXPECT_EQ(d.journalRows, 30) << program;
        p.Stop();
        std::lock_guard lock(mutex);
        for (const std::string& text : expected)
            EXPECT_EQ(std::count(notices.begin(), notices.end(), text), 1) << program << ": " << text;
    }
}

// Two windows on one broker and one folder: the journal the first one writes, and the tail it
// still sends after its run ended, are never taken up by the second under its own runs.
TEST_F(PublisherTest, AJournalAnotherProgramWritesOrSendsIsNeverSentByThisOne) {
    ASSERT_TRUE(sub.Start());
    PublisherOptions first = Options(broker.Port()), second = first;
    first.clientId = "zelvox-test-w1";
    second.clientId = "zelvox-test-w2";
    PruneRules rules;
    rules.publishingTo = first.target.Name();
    zelvox::Journal journal(journals);
    ASSERT_TRUE(journal.Start(rules).ok);
    Publisher p1(first);
    ASSERT_TRUE(p1.Start(&why)) << why;
    const auto append = [&](int from, int n) {
        for (int i = from; i < from + n; ++i) {
            journal.Append(
                MakeDispatchedReading(1, i, WallTimeAt(1765206000000 + i * 500LL), testing::RowReading(i)));
            p1.Appended(journal.CurrentFile().toStdString());
        }
    };
    append(1, 20);
    std::optional<Publisher> p2;
    p2.emplace(second);
    ASSERT_TRUE(p2->Start(&why)) << why;
    append(21, 20);
    journal.Close(); // the run ends while its rows are still on their way
    p2.reset();
    p2.emplace(second);
    ASSERT_TRUE(p2->Start(&why)) << why;
    ASSERT_TRUE(WaitForStatus(
        p1, [](const auto& s) { return s.acknowledged == 40; }, 10000))
        << DescribeStatus(p1.Status());
    p2->Stop();
    const auto own = [&](const auto& m) { return testing::MessagesOf(m, first.clientId); };
    sub.WaitFor([&](const auto& m) { return CountDelivery(journals, own(m)).missing == 0; }, 5000);
    const std::vector<std::string> m = sub.Messages();
    EXPECT_TRUE(CountDelivery(journals, own(m)).Exact()) << CountDelivery(journals, own(m)).Describe();
    EXPECT_TRUE(testing::MessagesOf(m, second.clientId).empty())
        << testing::MessagesOf(m, second.clientId)[0];
}

} // namespace
} // namespace zelvox
