// zelvox-decode --mqtt against a real mosquitto, the simulated meter on a pseudo-terminal and a
// persistent QoS 1 subscriber: a broker stopped for 20 s, a broker killed, a broker that is not
// there yet, the logger itself killed and started again, TLS and a refused password. Each case
// counts what the subscriber got against the logger's journal: after dropping duplicates by
// (run, index), exactly the journal's rows, in order.
#include "publish/PublishTestSupport.h"
#include "record/EventsFile.h"
#include "support/Broker.h"
#include "support/Tmpfs.h"
#include "support/ToolProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <set>

namespace zelvox {
namespace {

using testing::Broker;
using testing::CountDelivery;
using testing::Subscriber;
using testing::Tmpfs;
using testing::Tool;

class PublishingLogger : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing::ToolsBuilt())
            GTEST_SKIP() << "zelvox-sim and zelvox-decode are not built";
        ASSERT_TRUE(tmp.isValid());
        journal = tmp.filePath(QStringLiteral("journal"));
        port = testing::StartSim(sim);
        ASSERT_FALSE(port.isEmpty());
    }
    void TearDown() override {
        testing::EndProcess(decode);
        testing::EndProcess(sim);
    }
    // scheme: mqtt:// or mqtts://, with a user name when it needs one.
    void StartDecode(int brokerPort, const QStringList& extra = {}, const char* scheme = "mqtt://") {
        decode.setProcessChannelMode(QProcess::SeparateChannels);
        decode.setStandardOutputFile(lines.isEmpty() ? QProcess::nullDevice() : lines);
        decode.start(
            Tool("zelvox-decode"),
            QStringList{QStringLiteral("--port"), port, QStringLiteral("--rate"), QStringLiteral("120"),
                        QStringLiteral("--mqtt"),
                        QLatin1String(scheme) + QStringLiteral("127.0.0.1:%1/lab/bench").arg(brokerPort),
                        QStringLiteral("--journal-dir"), journal} +
                extra);
        ASSERT_TRUE(decode.waitForStarted());
    }
    // Ends the logger with SIGTERM: it delivers what is in flight and says offline.
    void StopDecode() {
        ::kill(static_cast<pid_t>(decode.processId()), SIGTERM);
        ASSERT_TRUE(decode.waitForFinished(10000));
        EXPECT_EQ(decode.exitCode(), 0) << decode.readAllStandardError().toStdString();
    }
    // Waits until every journal row has reached the subscriber, then checks the count exactly.
    void ExpectEveryRowOnce(Subscriber& sub, int timeoutMs, const char* what) {
        sub.WaitFor([&](const auto& m) { return CountDelivery(journal, m).missing == 0; }, timeoutMs);
        const testing::Delivery d = CountDelivery(journal, sub.Messages());
        std::cout << what << ": " << d.Describe() << "\n";
        EXPECT_TRUE(d.Exact()) << what << ": " << d.Describe();
    }
    static void Sleep(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }
    // A broker, and a persistent QoS 1 subscriber to topic on it: how most cases begin.
    void StartBroker(const char* topic = "lab/bench/reading") {
        broker = std::make_unique<Broker>(tmp.path());
        std::string why;
        ASSERT_TRUE(broker->Start(&why)) << why;
        sub = std::make_unique<Subscriber>(broker->Port(), "lab-sink", topic);
        ASSERT_TRUE(sub->Start());
    }
    // The broker again, after a stop or a kill.
    void RestartBroker() {
        std::string why;
        ASSERT_TRUE(broker->Start(&why)) << why;
    }

    QTemporaryDir tmp;
    QString journal, port;
    QString lines; // the logger's standard output, when a case keeps it
    QProcess sim, decode;
    std::unique_ptr<Broker> broker;
    std::unique_ptr<Subscriber> sub;
};

TEST_F(PublishingLogger, EveryReadingArrivesAfterTheBrokerStopsForTwentySeconds) {
    ASSERT_NO_FATAL_FAILURE(StartBroker());
    StartDecode(broker->Port());
    Sleep(3000);
    broker->Stop(SIGTERM);
    Sleep(20000);
    ASSERT_EQ(decode.state(), QProcess::Running);
    ASSERT_NO_FATAL_FAILURE(RestartBroker());
    Sleep(2000);
    ExpectEveryRowOnce(*sub, 15000, "broker stopped for 20 s");
    StopDecode();
    ExpectEveryRowOnce(*sub, 5000, "after the logger's end");
    const QString err = QString::fromLocal8Bit(decode.readAllStandardError());
    EXPECT_TRUE(err.contains(QLatin1String("broker unreachable ("))) << err.toStdString();
    EXPECT_FALSE(err.contains(QLatin1String("broker unreachable, ")))
        << "the first line names the reason: " << err.toStdString();
    EXPECT_TRUE(err.contains(QLatin1String("broker online"))) << err.toStdString();
}

TEST_F(PublishingLogger, AJournalRemovedUnderTheLoggerIsSaidAtOnceAndANewOneTakesOver) {
    ASSERT_NO_FATAL_FAILURE(StartBroker());
    StartDecode(broker->Port());
    QStringList journals;
    for (int i = 0; i < 100 && journals.isEmpty(); ++i, Sleep(50))
        journals = QDir(journal).entryList({QStringLiteral("*.csv")}, QDir::Files);
    ASSERT_EQ(journals.size(), 1);
    Sleep(1500);
    ASSERT_TRUE(QFile::remove(journal + QLatin1Char('/') + journals[0]));
    QString err;
    for (int i = 0; i < 50 && !err.contains(QLatin1String("going on in")); ++i) {
        decode.waitForReadyRead(100);
        err += QString::fromLocal8Bit(decode.readAllStandardError());
    }
    EXPECT_TRUE(err.contains(QLatin1String("journal off: ")) && err.contains(QLatin1String("was removed")))
        << err.toStdString();
    ASSERT_TRUE(err.contains(QLatin1String("going on in")))
        << "within 5 s, while running: " << err.toStdString();
    Sleep(2000);
    // The rows of the new journal reach the broker (those of the removed file went before).
    ASSERT_EQ(QDir(journal).entryList({QStringLiteral("*.csv")}, QDir::Files).size(), 1);
    sub->WaitFor([&](const auto& m) { return CountDelivery(journal, m).missing == 0; }, 10000);
    EXPECT_EQ(CountDelivery(journal, sub->Messages()).missing, 0);
    StopDecode();
}

TEST_F(PublishingLogger, AKilledBrokerAndAKilledLoggerLoseNothingAndTheOldTailComesFirst) {
    ASSERT_NO_FATAL_FAILURE(StartBroker());
    StartDecode(broker->Port());
    Sleep(3000);
    broker->Stop(SIGKILL); // autosave_interval 1: at most a second of its state is lost
    Sleep(2000);
    ASSERT_NO_FATAL_FAILURE(RestartBroker());
    ExpectEveryRowOnce(*sub, 15000, "broker killed and restarted");

    // Rows pile up while the broker is away; then the logger is killed before it can send them.
    broker->Stop(SIGTERM);
    Sleep(3000);
    decode.kill();
    decode.waitForFinished(5000);
    ASSERT_NO_FATAL_FAILURE(RestartBroker());
    Sleep(1100); // the next run's journal is named by a later second
    StartDecode(broker->Port());
    Sleep(3000);
    ExpectEveryRowOnce(*sub, 15000, "logger killed and started again");
    StopDecode();
    EXPECT_EQ(QDir(journal).entryList({QStringLiteral("*.csv")}).size(), 2);
}

TEST_F(PublishingLogger, TheLoggerWaitsForABrokerThatStartsTenSecondsLater) {
    // The subscriber's session is made first and kept by the broker across its stop.
    ASSERT_NO_FATAL_FAILURE(StartBroker());
    broker->Stop(SIGTERM);
    StartDecode(broker->Port());
    Sleep(10000);
    ASSERT_EQ(decode.state(), QProcess::Running) << decode.readAllStandardError().toStdString();
    ASSERT_NO_FATAL_FAILURE(RestartBroker());
    Sleep(2000);
    ExpectEveryRowOnce(*sub, 15000, "broker started 10 s after the logger");
    StopDecode();
}

// Alarms on every frame: at two readings a minute, one frame (83 ms) over the limit fires; the
// command runs with its environment, and it, the retained state on the broker and the events file
// beside the journal say the same; a clean end leaves the rule ok on the broker.
TEST_F(PublishingLogger, AnExcursionOfOneFrameBetweenRowsFiresEverywhereAndTheyAgree) {
    const QString displays = tmp.filePath(QStringLiteral("displays")),
                  env = tmp.filePath(QStringLiteral("env"));
    QFile file(displays);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("1 4.000 24\n1 4.500 1\n1 4.000 2400\n");
    file.close();
    QProcess meter;
    port = testing::StartSim(meter, {QStringLiteral("--displays"), displays});
    ASSERT_FALSE(port.isEmpty());
    ASSERT_NO_FATAL_FAILURE(StartBroker("lab/bench/alarm/high"));
    StartDecode(broker->Port(),
                {QStringLiteral("--rate"), QStringLiteral("2"), QStringLiteral("--alarm"),
                 QStringLiteral("high: above 4.2 V"), QStringLiteral("--alarm-exec"),
                 QStringLiteral("env | grep -E '^ZELVOX_(ALARM|PORT)' | LC_ALL=C sort >> '%1'; echo >> '%1'")
                     .arg(env)});
    const auto has = [](const std::string& state) {
        return [state](const std::vector<std::string>& m) {
            return std::any_of(m.begin(), m.end(),
                               [&](const std::string& s) { return s.find(state) != s.npos; });
        };
    };
    ASSERT_TRUE(sub->WaitFor(has("\"state\":\"firing\""), 10000));
    // The first row comes a period after the start and carries the events found before it.
    std::vector<EventRow> rows;
    std::uint64_t damaged = 0;
    for (int i = 0; i < 400 && rows.size() < 2; ++i, Sleep(100)) {
        const QStringList journals = QDir(journal).entryList({QStringLiteral("*.csv")}, QDir::Files);
        for (const QString& name : journals)
            if (!name.endsWith(QLatin1String(".events.csv")))
                rows = ReadEventsFile((journal + QLatin1Char('/') + name).toStdString(), &damaged);
    }
    ASSERT_EQ(rows.size(), 2u);
    StopDecode();
    meter.kill();
    meter.waitForFinished();

    QFile envFile(env);
    ASSERT_TRUE(envFile.open(QIODevice::ReadOnly));
    const QByteArray runs = envFile.readAll().replace('\n', '|');
    const std::string time = FormatIsoDateTime(rows[0].at);
    const QByteArray fired = "ZELVOX_ALARM=high|ZELVOX_ALARM_RULE=above 4.2 V|ZELVOX_ALARM_STATE=firing|"
                             "ZELVOX_ALARM_TIME=" +
                             QByteArray::fromStdString(time) +
                             "|ZELVOX_ALARM_UNIT=V|ZELVOX_ALARM_VALUE=4.500|ZELVOX_PORT=" + port.toUtf8() +
                             "||";
    EXPECT_TRUE(runs.startsWith(fired)) << runs.toStdString();
    EXPECT_TRUE(rows[0].firing && !rows[1].firing);
    EXPECT_EQ(rows[0].rule, "high");
    EXPECT_EQ(rows[0].value + rows[0].unit + rows[1].value, "4.500V4.000");
    EXPECT_EQ(rows[0].index, 0) << "the first row carries them";
    EXPECT_NEAR((rows[1].at.instant - rows[0].at.instant).count(), 83, 40) << "one frame later";
    const std::vector<std::string> m = sub->Messages();
    ASSERT_GE(m.size(), 3u) << "ok at the start, firing, ok";
    EXPECT_NE(std::find(m.begin(), m.end(),
                        "{\"state\":\"firing\",\"since\":\"" + time +
                            "\",\"value\":4.5,\"unit\":\"V\",\"rule\":\"above 4.2 V\"}"),
              m.end());
    EXPECT_NE(m.back().find("\"state\":\"ok\""), std::string::npos) << m.back();
}

TEST_F(PublishingLogger, TlsWithACertificateMadeHereAndBadOptionsEndWithStatusTwo) {
    const QString key = tmp.filePath(QStringLiteral("broker.key")),
                  cert = tmp.filePath(QStringLiteral("broker.pem"));
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                   QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
                   QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert});
    ASSERT_TRUE(openssl.waitForFinished(30000) && openssl.exitCode() == 0) << openssl.readAll().toStdString();
    const QString passwords = tmp.filePath(QStringLiteral("passwords"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("mosquitto_passwd"),
                                {QStringLiteral("-b"), QStringLiteral("-c"), passwords, QStringLiteral("ana"),
                                 QStringLiteral("right")}),
              0);
    Broker::Options options;
    options.certFile = cert;
    options.keyFile = key;
    options.passwordFile = passwords;
    Broker tlsBroker(tmp.path(), options);
    std::string why;
    ASSERT_TRUE(tlsBroker.Start(&why)) << why;

    // A bad URL and an unreadable password file are told at once, with status 2.
    for (const QStringList& bad :
         {QStringList{QStringLiteral("--mqtt"), QStringLiteral("http://127.0.0.1/lab")},
          QStringList{QStringLiteral("--mqtt"), QStringLiteral("mqtt://ana@127.0.0.1/lab"),
                      QStringLiteral("--mqtt-password-file"), tmp.filePath(QStringLiteral("none"))}}) {
        decode.start(Tool("zelvox-decode"), QStringList{QStringLiteral("--port"), port} + bad);
        ASSERT_TRUE(decode.waitForFinished(5000));
        EXPECT_EQ(decode.exitCode(), 2) << bad.join(QLatin1Char(' ')).toStdString();
        const QByteArray err = decode.readAllStandardError();
        EXPECT_TRUE(err.contains("must start with mqtt://") || err.contains("cannot read the password file"))
            << err.toStdString();
    }

    const QStringList tls{QStringLiteral("--mqtt-cafile"), cert};
    // A wrong CA, a wrong host name, both: each in its own words, the same at every start.
    const QString other = tmp.filePath(QStringLiteral("other.pem"));
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                   QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=other"),
                   QStringLiteral("-keyout"), tmp.filePath(QStringLiteral("other.key")),
                   QStringLiteral("-out"), other});
    ASSERT_TRUE(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
    const struct {
        const char* host;
        const QString& ca;
        std::string said;
    } verdicts[] = {
        {"127.0.0.1", other, "the broker's certificate is not signed by the CA in " + other.toStdString()},
        {"localhost", cert, "the broker's certificate is not for the host name localhost"},
        {"localhost", other,
         "the broker's certificate is neither signed by the CA in " + other.toStdString() +
             " nor for the host name localhost"},
    };
    for (const auto& v : verdicts) {
        for (int start = 0; start < 10; ++start) {
            decode.start(
                Tool("zelvox-decode"),
                {QStringLiteral("--port"), port, QStringLiteral("--mqtt"),
                 QStringLiteral("mqtts://%1:%2/lab/bench").arg(QLatin1String(v.host)).arg(tlsBroker.Port()),
                 QStringLiteral("--journal-dir"), tmp.filePath(QStringLiteral("elsewhere")),
                 QStringLiteral("--mqtt-cafile"), v.ca});
            QByteArray said;
            for (QDeadlineTimer deadline(10000);
                 !said.contains("broker unreachable (") && !deadline.hasExpired();) {
                decode.waitForReadyRead(100); // standard output goes nowhere: this only paces the loop
                said += decode.readAllStandardError();
            }
            EXPECT_TRUE(said.contains("broker unreachable (" + QByteArray::fromStdString(v.said) + ")"))
                << v.host << ", start " << start << ": " << said.toStdString();
            StopDecode();
        }
    }

    // The right password, from the environment this time, over TLS.
    Subscriber tlsSub(tlsBroker.Port(), "lab-tls-sink", "lab/bench/reading", cert.toStdString());
    tlsSub.Login("ana", "right");
    ASSERT_TRUE(tlsSub.Start());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZELVOX_MQTT_PASSWORD"), QStringLiteral("right"));
    decode.setProcessEnvironment(env);
    StartDecode(tlsBroker.Port(), tls, "mqtts://ana@");
    Sleep(3000);
    ExpectEveryRowOnce(tlsSub, 10000, "over TLS");
    StopDecode();
    EXPECT_TRUE(decode.readAllStandardError().contains("broker online"));
}

// The logger's password refused for 20 s (rotated on the broker, the logger's file mended
// later): the CSV log goes on meanwhile, and once the broker takes the password every row
// reaches it.
TEST_F(PublishingLogger, ARefusedPasswordKeepsTheLoggerLoggingUntilTheBrokerTakesIt) {
    const QString passwords = tmp.filePath(QStringLiteral("passwords"));
    const auto setPassword = [&](const char* user, const char* password, bool create) {
        QStringList args{QStringLiteral("-b"), passwords, QLatin1String(user), QLatin1String(password)};
        if (create)
            args.prepend(QStringLiteral("-c"));
        return QProcess::execute(QStringLiteral("mosquitto_passwd"), args) == 0;
    };
    ASSERT_TRUE(setPassword("ana", "old", true) && setPassword("sink", "sink", false));
    Broker::Options options;
    options.passwordFile = passwords;
    broker = std::make_unique<Broker>(tmp.path(), options);
    std::string why;
    ASSERT_TRUE(broker->Start(&why)) << why;
    sub = std::make_unique<Subscriber>(broker->Port(), "lab-sink", "lab/bench/reading");
    sub->Login("sink", "sink");
    ASSERT_TRUE(sub->Start());
    const QString right = tmp.filePath(QStringLiteral("right"));
    std::ofstream(right.toStdString()) << "right\n";
    lines = tmp.filePath(QStringLiteral("log.csv"));
    StartDecode(
        broker->Port(),
        {QStringLiteral("--mqtt-password-file"), right, QStringLiteral("--format"), QStringLiteral("csv")},
        "mqtt://ana@");
    Sleep(20000);
    ASSERT_EQ(decode.state(), QProcess::Running) << decode.readAllStandardError().toStdString();
    ASSERT_TRUE(setPassword("ana", "right", false));
    ::kill(broker->Pid(), SIGHUP); // the broker reads its password file again
    ExpectEveryRowOnce(*sub, 25000, "password refused for 20 s");
    StopDecode();
    ExpectEveryRowOnce(*sub, 5000, "after the logger's end");
    const QString err = QString::fromLocal8Bit(decode.readAllStandardError());
    EXPECT_TRUE(err.contains(QLatin1String("broker refused us (")) &&
                err.contains(QLatin1String("; trying again in ")) &&
                err.contains(QLatin1String("broker online")))
        << err.toStdString();
    // Every row of the CSV log is in the journal and at the broker.
    QFile log(lines);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const int logRows = static_cast<int>(log.readAll().count('\n')) - 1;
    EXPECT_GT(logRows, 40);
    EXPECT_EQ(logRows, CountDelivery(journal, sub->Messages()).journalRows);
}

TEST_F(PublishingLogger, TwoMetersWhosePortPathsEndAlikeKeepTheirOwnIdsAndRuns) {
    ASSERT_NO_FATAL_FAILURE(StartBroker("lab/+/reading"));
    QProcess sim2;
    const QString port2 = testing::StartSim(sim2);
    ASSERT_FALSE(port2.isEmpty());

    // a/meter and b/meter: the same last part, two meters.
    QProcess loggers[2];
    QString journals[2], ids[2];
    for (int i = 0; i < 2; ++i) {
        const QString folder = tmp.filePath(QString(QLatin1Char('a' + i)));
        QDir().mkpath(folder);
        ASSERT_TRUE(QFile::link(i == 0 ? port : port2, folder + QStringLiteral("/meter")));
        journals[i] = tmp.filePath(QStringLiteral("journal-%1").arg(i));
        loggers[i].setStandardOutputFile(QProcess::nullDevice());
        loggers[i].start(Tool("zelvox-decode"),
                         {QStringLiteral("--port"), folder + QStringLiteral("/meter"),
                          QStringLiteral("--rate"), QStringLiteral("120"), QStringLiteral("--mqtt"),
                          QStringLiteral("mqtt://127.0.0.1:%1/lab/bench").arg(broker->Port()),
                          QStringLiteral("--journal-dir"), journals[i]});
        ASSERT_TRUE(loggers[i].waitForStarted());
    }
    Sleep(5000);
    for (QProcess& logger : loggers) {
        ::kill(static_cast<pid_t>(logger.processId()), SIGTERM);
        ASSERT_TRUE(logger.waitForFinished(10000));
    }
    testing::EndProcess(sim2);

    const std::vector<std::string> messages = sub->Messages();
    for (int i = 0; i < 2; ++i) {
        const QString err = QString::fromLocal8Bit(loggers[i].readAllStandardError());
        EXPECT_FALSE(err.contains(QLatin1String("another client uses the id"))) << err.toStdString();
        ids[i] = QRegularExpression(QStringLiteral(" as (\\S+), journal")).match(err).captured(1);
        ASSERT_FALSE(ids[i].isEmpty()) << err.toStdString();
        // This meter's messages, by the id its runs carry: every row of its journal, in order.
        const testing::Delivery d =
            CountDelivery(journals[i], testing::MessagesOf(messages, ids[i].toStdString()));
        EXPECT_TRUE(d.Exact()) << ids[i].toStdString() << ": " << d.Describe();
    }
    EXPECT_NE(ids[0], ids[1]);
}

// The journal on a small tmpfs filled up under the logger: the readings go on to the broker
// from memory, the status and the retained PREFIX/journal say so, and once space is back the
// logger goes on in a new journal. Every line the logger wrote reaches the broker, in order.
TEST_F(PublishingLogger, AFullDiskHoldsTheReadingsInMemoryUntilTheJournalIsBack) {
    Tmpfs disk(journal, QStringLiteral("1m"));
    if (!disk.Mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (not root, or no mount in this container)";
    ASSERT_NO_FATAL_FAILURE(StartBroker());
    // The disk is full before the logger starts, so its first journal cannot even be made.
    QElapsedTimer full;
    full.start();
    ASSERT_TRUE(disk.Fill());
    lines = tmp.filePath(QStringLiteral("lines.jsonl"));
    StartDecode(broker->Port(), {QStringLiteral("--format"), QStringLiteral("jsonl")});
    QString err;
    const auto readErr = [&](const char* until, int ms) {
        for (QDeadlineTimer deadline(ms); !err.contains(QLatin1String(until)) && !deadline.hasExpired();) {
            decode.waitForReadyRead(200); // standard output goes to a file: this only paces the loop
            err += QString::fromLocal8Bit(decode.readAllStandardError());
        }
        return err.contains(QLatin1String(until));
    };
    ASSERT_TRUE(readErr("only in memory", 10000)) << err.toStdString();
    EXPECT_TRUE(err.contains(QLatin1String("journal off (disk full): "))) << err.toStdString();
    Subscriber state(broker->Port(), "lab-journal", "lab/bench/journal");
    ASSERT_TRUE(state.Start());
    EXPECT_TRUE(
        state.WaitFor([](const auto& m) { return !m.empty() && m.back() == "off (disk full)"; }, 5000));
    // Freed 15 s after the disk filled, and with some readings in memory.
    Sleep(std::max(5000, 15000 - static_cast<int>(full.elapsed())));

    ASSERT_TRUE(disk.Free());
    ASSERT_TRUE(readErr("going on in", 15000))
        << "within 15 s of the space coming back: " << err.toStdString();
    EXPECT_TRUE(state.WaitFor([](const auto& m) { return m.back() == "on"; }, 5000));
    Sleep(2000);
    StopDecode();

    // Every index the logger wrote, received (repeats dropped), first arrivals in order.
    QFile out(lines);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    // The logger's n-th line is the reading of index n.
    std::set<qint64> written;
    for (qint64 n = 0; !out.atEnd(); ++n)
        if (out.readLine().startsWith('{'))
            written.insert(n);
    const QRegularExpression indexOf(QStringLiteral("\"index\":(\\d+)"));
    std::set<qint64> received;
    int outOfOrder = 0;
    qint64 last = -1;
    sub->WaitFor([&](const auto& m) { return m.size() >= written.size(); }, 10000);
    for (const std::string& m : sub->Messages()) {
        const qint64 index = indexOf.match(QString::fromStdString(m)).captured(1).toLongLong();
        if (received.insert(index).second) {
            outOfOrder += index < last;
            last = index;
        }
    }
    std::cout << "full disk: " << written.size() << " lines written, " << received.size()
              << " distinct received, " << outOfOrder << " out of order\n";
    EXPECT_GT(written.size(), 30u);
    EXPECT_EQ(received, written);
    EXPECT_EQ(outOfOrder, 0);
}

} // namespace
} // namespace zelvox
