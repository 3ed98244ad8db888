// zelvox-decode as a logger: its CSV and JSON lines against its own text output, the pacing of
// --rate, a meter unplugged and plugged back, the ending signals, and readings carried through
// a real MQTT broker (mosquitto) by mosquitto_pub.
#include "decode/FrameEncoder.h"
#include "record/RowCodec.h"
#include "support/Broker.h"
#include "support/Pty.h"
#include "support/ToolProcess.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace zelvox {
namespace {

using testing::EndProcess;
using testing::Tool;

// The displays the simulated meter plays, and what each decodes to.
constexpr const char* kDisplays = "1 1.234 3\n12 OL 3\n23 -5.0 3\n";
const std::set<std::pair<QString, QString>> kSent = {
    {QStringLiteral("1.234"), QStringLiteral("DCV V")},
    {QStringLiteral("0L"), QStringLiteral("OHM K\u03A9")},
    {QStringLiteral("-5.0"), QStringLiteral("TMP \u2103")},
};

class DecodeLogger : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing::ToolsBuilt())
            GTEST_SKIP() << "zelvox-sim and zelvox-decode are not built";
        ASSERT_TRUE(dir.isValid());
        displays = dir.filePath(QStringLiteral("displays.txt"));
        QFile file(displays);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(kDisplays);
    }
    void TearDown() override {
        for (QProcess* p : {&decode, &pub, &sim, &sim2})
            EndProcess(*p, 3000);
    }
    // Starts zelvox-sim playing the displays, with its port also at link; returns the port.
    QString StartSim(QProcess& p, const QString& link) {
        return testing::StartSim(p, {QStringLiteral("--displays"), displays, QStringLiteral("--link"), link});
    }
    // Reads complete lines from p's output until it holds n of them (or the time runs out).
    static QList<QByteArray> ReadLines(QProcess& p, QByteArray& buffer, int n, int timeoutMs) {
        QDeadlineTimer deadline(timeoutMs);
        while (buffer.count('\n') < n && !deadline.hasExpired()) {
            if (!p.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))))
                QThread::msleep(10);
            buffer += p.readAllStandardOutput();
        }
        QList<QByteArray> lines = buffer.split('\n');
        lines.removeLast(); // the unfinished piece after the last line feed
        return lines;
    }
    QStringList DecodeArgs(const QString& port, const char* format, const char* rate = nullptr) {
        QStringList args{QStringLiteral("--port"), port, QStringLiteral("--format"), QLatin1String(format)};
        if (rate)
            args << QStringLiteral("--rate") << QLatin1String(rate);
        return args;
    }

    QTemporaryDir dir;
    QString displays;
    QProcess sim, sim2, decode, pub;
};

// Checks one JSON line against the readings the meter sends.
void ExpectSentReading(const QByteArray& line) {
    QJsonParseError error{};
    const QJsonObject o = QJsonDocument::fromJson(line, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
    const QString text = o.value(QStringLiteral("text")).toString();
    EXPECT_TRUE(kSent.count({text, o.value(QStringLiteral("function")).toString()})) << line.toStdString();
    if (text == QLatin1String("0L")) {
        EXPECT_TRUE(o.value(QStringLiteral("value")).isNull());
        EXPECT_EQ(o.value(QStringLiteral("overload")).toInt(), 1);
    } else {
        EXPECT_EQ(o.value(QStringLiteral("value")).toDouble(), text.toDouble()) << line.toStdString();
        EXPECT_EQ(o.value(QStringLiteral("overload")).toInt(), 0);
    }
    EXPECT_TRUE(
        QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs).isValid());
}

TEST_F(DecodeLogger, CsvAndJsonLinesSayWhatTheTextOutputSays) {
    std::vector<std::uint8_t> bytes;
    const std::pair<const char*, int> shown[] = {{"1.23", 0}, {"-0.000", 1},  {"0L", 12},
                                                 {"-0L", 23}, {"-123.4", 10}, {"7", 26}};
    for (const auto& [text, fc] : shown) {
        const Frame f = *EncodeReading(text, fc);
        bytes.insert(bytes.end(), f.begin(), f.end());
    }
    const QString capture = dir.filePath(QStringLiteral("capture.bin"));
    QFile file(capture);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    file.close();
    const auto run = [&](const char* format) {
        QProcess p;
        p.start(Tool("zelvox-decode"), {QStringLiteral("--format"), QLatin1String(format), capture});
        EXPECT_TRUE(p.waitForFinished(5000));
        EXPECT_EQ(p.exitCode(), 0);
        QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
        EXPECT_EQ(lines.takeLast(), QByteArray()) << "the last line is complete";
        return lines;
    };
    const QList<QByteArray> text = run("text"), csv = run("csv"), jsonl = run("jsonl");
    ASSERT_EQ(text.size(), 6);
    ASSERT_EQ(csv.size(), 7);
    ASSERT_EQ(jsonl.size(), 6);
    EXPECT_EQ(csv[0], "DateTime,Index,Value,Type,Time,Number\r");
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(text[i].toStdString());
        const QList<QByteArray> t = text[i].split('\t');
        ASSERT_EQ(t.size(), 5);
        const double value = t[0].toDouble();
        const bool overload = t[4].endsWith("0L");

        // Every line the logger writes is a journal row the loader would take.
        JournalRow row;
        ASSERT_EQ(ReadJournalLine(csv[i + 1].toStdString(), row), LineKind::Row);
        EXPECT_LT(std::abs(row.at.EpochMs() - QDateTime::currentMSecsSinceEpoch()), 10000);
        EXPECT_EQ(row.index, i);
        const TableTexts c = MakeTableTexts(row.index, row.reading, row.at);
        EXPECT_EQ(c.value, t[4].toStdString());
        EXPECT_EQ(c.type, t[3].toStdString());
        EXPECT_EQ(IsOverload(row.reading.value), overload);
        if (!overload) {
            EXPECT_EQ(row.reading.value, value);
        }

        const QJsonObject o = QJsonDocument::fromJson(jsonl[i]).object();
        EXPECT_EQ(o.value(QStringLiteral("text")).toString().toStdString(), t[4].toStdString());
        EXPECT_EQ(o.value(QStringLiteral("function")).toString().toStdString(), t[3].toStdString());
        EXPECT_EQ(o.value(QStringLiteral("overload")).toInt(), overload ? (value > 0 ? 1 : -1) : 0);
        if (overload)
            EXPECT_TRUE(o.value(QStringLiteral("value")).isNull());
        else
            EXPECT_EQ(o.value(QStringLiteral("value")).toDouble(), value);
        EXPECT_TRUE(o.contains(QStringLiteral("unit")));
    }
    EXPECT_EQ(QJsonDocument::fromJson(jsonl[4]).object().value(QStringLiteral("unit")).toString(),
              QStringLiteral("uA"));

    // Appended to a log file run after run, the CSV keeps its one header.
    const QString log = dir.filePath(QStringLiteral("log.csv"));
    for (int i = 0; i < 2; ++i) {
        QProcess p;
        p.setStandardOutputFile(log, QIODevice::Append);
        p.start(Tool("zelvox-decode"), {QStringLiteral("--format"), QStringLiteral("csv"), capture});
        ASSERT_TRUE(p.waitForFinished(5000));
    }
    QFile logFile(log);
    ASSERT_TRUE(logFile.open(QIODevice::ReadOnly));
    const QByteArray logged = logFile.readAll();
    EXPECT_EQ(logged.count("DateTime,"), 1);
    EXPECT_EQ(logged.count('\n'), 13);
}

TEST_F(DecodeLogger, RateIsPacedLikeTheProgramsSampling) {
    const QString port = StartSim(sim, dir.filePath(QStringLiteral("meter")));
    ASSERT_FALSE(port.isEmpty());
    decode.start(Tool("zelvox-decode"), DecodeArgs(port, "jsonl", "120"));
    QByteArray buffer;
    const QList<QByteArray> lines = ReadLines(decode, buffer, 13, 20000);
    ASSERT_GE(lines.size(), 13);
    // A reading is held for one sampling period (500 ms) after the first frame that follows the
    // last one emitted, so each interval is 500 ms plus the wait for that frame (one frame is
    // about 83 ms at 2400 baud).
    std::vector<qint64> intervals;
    QDateTime last;
    for (const QByteArray& line : lines) {
        ExpectSentReading(line);
        const QDateTime at = QDateTime::fromString(
            QJsonDocument::fromJson(line).object().value(QStringLiteral("time")).toString(),
            Qt::ISODateWithMs);
        if (last.isValid())
            intervals.push_back(last.msecsTo(at));
        last = at;
    }
    // Never faster than the period. The median (not the mean, which one stall of a loaded
    // machine drags up) lies between the period and the period plus a frame.
    QStringList shown;
    for (const qint64 ms : intervals)
        shown << QString::number(ms);
    SCOPED_TRACE("intervals (ms): " + shown.join(QLatin1Char(' ')).toStdString());
    EXPECT_GE(*std::min_element(intervals.begin(), intervals.end()), 499);
    std::vector<qint64> sorted = intervals;
    std::sort(sorted.begin(), sorted.end());
    const qint64 median = sorted[sorted.size() / 2];
    EXPECT_GT(median, 505);
    EXPECT_LT(median, 600);
}

// What the link says of itself, in the logger's words on standard error, as the window says it
// in its status bar: a line silent for 5 s, data again, a device that went away.
TEST_F(DecodeLogger, SaysASilentLineAndAnUnpluggedAdapter) {
    zelvox::testing::Pty pty;
    ASSERT_TRUE(pty.ok());
    decode.start(Tool("zelvox-decode"), DecodeArgs(pty.SlavePath(), "csv"));
    ASSERT_TRUE(decode.waitForStarted());
    QByteArray err;
    const struct {
        const char* said;
        bool feed;   // frames keep coming
        bool unplug; // the adapter goes away first
    } steps[] = {{"no data from ", false, false},
                 {" again", true, false},
                 {"hung up (device unplugged?)", false, true}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.said);
        if (step.unplug)
            pty.CloseMaster();
        bool found = false;
        for (int i = 0; i < 160 && !found; ++i) {
            decode.waitForReadyRead(50);
            err += decode.readAllStandardError();
            found = err.contains(step.said);
            if (step.feed)
                pty.Write(*EncodeReading("1.000", 1));
        }
        EXPECT_TRUE(found) << err.toStdString();
    }
    EXPECT_EQ(err.count("no data from "), 1) << err.toStdString();
    EXPECT_EQ(decode.state(), QProcess::Running);
}

TEST_F(DecodeLogger, UnpluggedMeterIsWaitedForAndEachSignalEndsCleanly) {
    const QString link = dir.filePath(QStringLiteral("meter"));
    ASSERT_FALSE(StartSim(sim, link).isEmpty());
    const QString errors = dir.filePath(QStringLiteral("stderr.txt"));
    const auto errorText = [&] {
        QFile f(errors);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    decode.setStandardErrorFile(errors);
    decode.start(Tool("zelvox-decode"), DecodeArgs(link, "csv"));
    QByteArray buffer;
    ASSERT_GE(ReadLines(decode, buffer, 4, 5000).size(), 4);

    // Unplug: the meter's pty closes and the link goes away for a while.
    EndProcess(sim, 3000);
    QThread::msleep(1500);
    EXPECT_TRUE(errorText().contains("hung up")) << errorText().toStdString();
    EXPECT_EQ(decode.state(), QProcess::Running);
    const int before = static_cast<int>(ReadLines(decode, buffer, 0, 0).size());

    // Plug back in: a new pty behind the same link.
    const QString port = StartSim(sim2, link);
    ASSERT_FALSE(port.isEmpty());
    const QList<QByteArray> lines = ReadLines(decode, buffer, before + 6, 5000);
    ASSERT_GE(lines.size(), before + 6);
    EXPECT_TRUE(errorText().contains("is back")) << errorText().toStdString();
    for (int i = 1; i < lines.size(); ++i) {
        JournalRow row;
        ASSERT_EQ(ReadJournalLine(lines[i].toStdString(), row), LineKind::Row) << lines[i].toStdString();
        EXPECT_EQ(row.index, i - 1) << "Index runs on across the unplug";
        const TableTexts texts = MakeTableTexts(row.index, row.reading, row.at);
        EXPECT_TRUE(kSent.count({QString::fromStdString(texts.value), QString::fromStdString(texts.type)}));
    }

    // Every ending signal: status 0, the last line complete, the port left free for others;
    // also when the signal keeps coming until the end (timeout(1) and service managers signal
    // the process and then its group).
    for (const auto& [sig, repeated] : std::vector<std::pair<int, bool>>{{SIGINT, false},
                                                                         {SIGTERM, false},
                                                                         {SIGHUP, false},
                                                                         {SIGQUIT, false},
                                                                         {SIGPIPE, false},
                                                                         {SIGINT, true}}) {
        SCOPED_TRACE(sig);
        if (decode.state() == QProcess::NotRunning) {
            buffer.clear();
            decode.start(Tool("zelvox-decode"), DecodeArgs(port, "jsonl"));
            ASSERT_GE(ReadLines(decode, buffer, 1, 5000).size(), 1);
        }
        const auto pid = static_cast<pid_t>(decode.processId());
        std::atomic<bool> ended{false};
        std::thread again([&] {
            while (repeated && !ended && ::kill(pid, sig) == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(50));
        });
        ::kill(pid, sig);
        const bool finished = decode.waitForFinished(3000);
        ended = true;
        again.join();
        ASSERT_TRUE(finished);
        EXPECT_EQ(decode.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(decode.exitCode(), 0);
        buffer += decode.readAllStandardOutput();
        EXPECT_TRUE(buffer.endsWith('\n'));
        const int fd = ::open(port.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        int exclusive = -1;
        EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0) << "the port was left in exclusive mode";
        ::close(fd);
    }
}

TEST_F(DecodeLogger, ReadingsReachAnMqttBrokerThroughMosquittoPub) {
    testing::Broker broker(dir.path());
    std::string why;
    ASSERT_TRUE(broker.Start(&why)) << why;
    const QString host = QStringLiteral("127.0.0.1"), topic = QStringLiteral("lab/bench1/dmm");
    const QString portArg = QString::number(broker.Port());
    constexpr std::size_t kMessages = 8;
    testing::Subscriber sink(broker.Port(), "lab-sink", topic.toStdString());
    ASSERT_TRUE(sink.Start()); // the subscription is in place before the first message

    const QString meter = StartSim(sim, dir.filePath(QStringLiteral("meter")));
    ASSERT_FALSE(meter.isEmpty());
    decode.setStandardOutputProcess(&pub);
    pub.start(QStringLiteral("mosquitto_pub"), {QStringLiteral("-h"), host, QStringLiteral("-p"), portArg,
                                                QStringLiteral("-t"), topic, QStringLiteral("-l")});
    decode.start(Tool("zelvox-decode"), DecodeArgs(meter, "jsonl", "120"));
    ASSERT_TRUE(pub.waitForStarted() && decode.waitForStarted());

    ASSERT_TRUE(sink.WaitFor([&](const auto& m) { return m.size() >= kMessages; }, 20000))
        << "the broker did not pass on " << kMessages << " messages";
    std::set<QString> seen;
    for (const std::string& m : sink.Messages()) {
        const QByteArray line = QByteArray::fromStdString(m);
        ExpectSentReading(line);
        seen.insert(QJsonDocument::fromJson(line).object().value(QStringLiteral("text")).toString());
    }
    EXPECT_GE(seen.size(), 2u) << "the meter's displays change every few frames";

    // The decoder ends at its signal; mosquitto_pub then sees the end of its input and ends too.
    ::kill(static_cast<pid_t>(decode.processId()), SIGINT);
    ASSERT_TRUE(decode.waitForFinished(3000));
    EXPECT_EQ(decode.exitCode(), 0);
    ASSERT_TRUE(pub.waitForFinished(5000));
    EXPECT_EQ(pub.exitCode(), 0);
}

} // namespace
} // namespace zelvox
