// The readings journal: rows survive SIGKILL, faults turn it off while readings go on, a loaded
// journal exports as the table it came from, old journals are pruned and interrupted runs found.
#include "journal/Journal.h"
#include "decode/FrameEncoder.h"
#include "export/TextExport.h"
#include "journal/JournalLoader.h"
#include "session/ReadingsModel.h"
#include "support/Child.h"
#include "support/JournalFiles.h"
#include "support/Pty.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <signal.h>
#include <sys/file.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace zelvox {
namespace {

const QString kDriver = QStringLiteral(ZELVOX_BINARY_DIR "/tests/journal_driver");

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList Journals(const QString& dir) {
    return QDir(dir).entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name);
}

// The meter's frames: a few displays over several functions, overloads among them.
std::vector<Frame> MeterFrames() {
    std::vector<Frame> frames;
    const std::pair<const char*, int> shown[] = {{"1.234", 1}, {"-0.567", 2}, {"0L", 12}, {"-12.3", 23},
                                                 {"999", 17},  {"-0L", 11},   {"0.00", 6}};
    for (const auto& [text, fc] : shown)
        frames.push_back(*EncodeReading(text, fc));
    return frames;
}

// A meter that writes frames into a pty as fast as the reader takes them, until stopped.
class FastMeter {
public:
    // Writes never block, so the meter can stop while no one reads.
    FastMeter() : frames_(MeterFrames()) { ::fcntl(pty_.MasterFd(), F_SETFL, O_NONBLOCK); }
    ~FastMeter() { StopStreaming(); }
    const testing::Pty& pty() const { return pty_; }
    void Send(int count) {
        for (int i = 0; i < count && !stop_; ++i) {
            while (!pty_.Write(frames_[sent_ % frames_.size()]) && !stop_)
                QThread::msleep(2); // no reader yet, or the reader is behind
            ++sent_;
        }
    }
    void StartStreaming() {
        writer_ = std::thread([this] {
            while (!stop_)
                Send(1);
        });
    }
    void StopStreaming() {
        stop_ = true;
        if (writer_.joinable())
            writer_.join();
    }
    void HangUp() {
        StopStreaming();
        pty_.CloseMaster();
    }

private:
    testing::Pty pty_;
    std::vector<Frame> frames_;
    std::size_t sent_ = 0;
    std::atomic<bool> stop_{false};
    std::thread writer_;
};

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        dir = tmp.filePath(QStringLiteral("recordings"));
    }
    void StartDriver(const QString& device, const QStringList& extra = {}) {
        ASSERT_TRUE(driver.Start(kDriver, QStringList{dir, device} + extra));
    }
    // Complete lines the driver has printed, waiting until there are at least n.
    QList<QByteArray> Printed(int n, int timeoutMs = 10000) {
        QDeadlineTimer deadline(timeoutMs);
        while (out.count('\n') < n && !deadline.hasExpired() && driver.Running()) {
            driver.WaitForOutput(100);
            out += driver.TakeOut();
        }
        out += driver.TakeOut();
        QList<QByteArray> lines = out.split('\n');
        lines.removeLast();
        return lines;
    }
    // Ends the meter and waits for the driver, which ends its journal cleanly.
    void HangUpAndWait(FastMeter& meter) {
        meter.HangUp();
        ASSERT_TRUE(driver.WaitForFinished(5000));
        out += driver.TakeOut();
        err += driver.TakeErr();
        EXPECT_EQ(driver.ExitCode(), 0) << err.toStdString();
    }

    QTemporaryDir tmp;
    QString dir;
    zelvox::testing::Child driver; // killed, if still running, when the case ends
    QByteArray out, err;
};

TEST_F(JournalTest, EveryRowDispatchedBeforeSigkillIsInTheJournal) {
    std::mt19937 rng(7);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        FastMeter meter;
        ASSERT_TRUE(meter.pty().ok());
        out.clear();
        err.clear();
        const QStringList before = Journals(dir);
        StartDriver(meter.pty().SlavePath());
        meter.StartStreaming();
        const int target = 1000 + static_cast<int>(rng() % 700);
        ASSERT_GE(Printed(target).size(), target);
        ::kill(driver.Pid(), SIGKILL);
        ASSERT_TRUE(driver.WaitForFinished(3000));
        meter.StopStreaming();
        const QList<QByteArray> dispatched = Printed(0);
        err = driver.TakeErr();

        QStringList journals = Journals(dir);
        for (const QString& name : before)
            journals.removeOne(name);
        ASSERT_EQ(journals.size(), 1);
        if (round > 0) {
            EXPECT_TRUE(
                err.contains("interrupted: " + QFile::encodeName(dir + QLatin1Char('/') + before.last())))
                << err.toStdString();
        }
        const QList<QByteArray> rows = ReadFile(dir + QLatin1Char('/') + journals[0]).split('\n');
        // Header, rows, the empty piece after the last line end.
        ASSERT_GE(rows.size(), dispatched.size() + 2);
        EXPECT_LE(rows.size(), dispatched.size() + 3) << "at most one row written but not yet printed";
        for (int i = 0; i < dispatched.size(); ++i)
            ASSERT_EQ(rows[i + 1] + '\n', dispatched[i] + '\n') << "row " << i;
        EXPECT_TRUE(rows.last().isEmpty()) << "no torn row";
    }
}

TEST_F(JournalTest, FaultsTurnTheJournalOffOnceAndReadingsGoOn) {
    // A folder we may not write to, holding an interrupted run: both said at start-up.
    {
        ASSERT_TRUE(QDir().mkpath(dir));
        const QString interrupted = dir + QStringLiteral("/2026-12-08T10-00-00.csv");
        QFile(interrupted).open(QIODevice::WriteOnly);
        QFile(dir + QStringLiteral("/.2026-12-08T10-00-00.csv.open")).open(QIODevice::WriteOnly);
        const auto readable =
            QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther;
        ASSERT_TRUE(QFile::setPermissions(tmp.path(), readable | QFileDevice::WriteOwner));
        ASSERT_TRUE(QFile::setPermissions(dir, readable));
        FastMeter meter;
        StartDriver(meter.pty().SlavePath(),
                    ::geteuid() == 0 ? QStringList{QStringLiteral("--uid"), QStringLiteral("65534")}
                                     : QStringList{});
        for (int i = 0; i < 50 && !(err.contains("off: ") && err.contains("interrupted: ")); ++i) {
            driver.WaitForOutput(100);
            err += driver.TakeErr();
        }
        EXPECT_TRUE(err.contains(("interrupted: " + interrupted).toLocal8Bit())) << err.toStdString();
        EXPECT_TRUE(err.contains("off: ")) << "before the first reading";
        meter.Send(50);
        ASSERT_EQ(Printed(50).size(), 50);
        HangUpAndWait(meter);
        EXPECT_EQ(err.count("off: "), 1) << err.toStdString();
        EXPECT_TRUE(err.contains("Permission denied")) << err.toStdString();
        EXPECT_EQ(Journals(dir), QStringList{QStringLiteral("2026-12-08T10-00-00.csv")});
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QDir(dir).removeRecursively();
    }
    // Without HOME (and XDG_STATE_HOME) there is no folder for the journal: off, never under /.
    {
        const QByteArray home = qgetenv("HOME"), state = qgetenv("XDG_STATE_HOME");
        qunsetenv("HOME");
        qunsetenv("XDG_STATE_HOME");
        const QString defaultDir = DefaultJournalDir();
        Journal journal(defaultDir);
        const JournalStartup startup = journal.Start();
        qputenv("HOME", home);
        if (!state.isEmpty())
            qputenv("XDG_STATE_HOME", state);
        EXPECT_TRUE(defaultDir.isEmpty()) << defaultDir.toStdString();
        EXPECT_FALSE(startup.ok);
        EXPECT_TRUE(startup.error.contains(QStringLiteral("HOME"))) << startup.error.toStdString();
    }
    // A full disk: the file may not grow past 4 KiB.
    {
        out.clear();
        err.clear();
        FastMeter meter;
        StartDriver(meter.pty().SlavePath(), {QStringLiteral("--fsize"), QStringLiteral("4096")});
        meter.Send(200);
        const QList<QByteArray> dispatched = Printed(200);
        ASSERT_EQ(dispatched.size(), 200);
        HangUpAndWait(meter);
        EXPECT_EQ(err.count("off: "), 1) << err.toStdString();
        EXPECT_TRUE(err.contains("File too large")) << err.toStdString();
        ASSERT_EQ(Journals(dir).size(), 1);
        const QByteArray journal = ReadFile(dir + QLatin1Char('/') + Journals(dir)[0]);
        EXPECT_LE(journal.size(), 4096);
        const QList<QByteArray> rows = journal.split('\n');
        ASSERT_GT(rows.size(), 10);
        EXPECT_TRUE(rows.last().isEmpty()) << "the row that did not fit was cut back out";
        for (int i = 1; i + 1 < rows.size(); ++i)
            EXPECT_EQ(rows[i], dispatched[i - 1]);
    }
    // The file removed under us.
    {
        out.clear();
        err.clear();
        QDir(dir).removeRecursively();
        FastMeter meter;
        StartDriver(meter.pty().SlavePath());
        meter.Send(20);
        int sent = 20;
        ASSERT_EQ(Printed(sent).size(), sent);
        ASSERT_EQ(Journals(dir).size(), 1);
        ASSERT_TRUE(QFile::remove(dir + QLatin1Char('/') + Journals(dir)[0]));
        // The journal notices at its next sync, within a second of the next row.
        for (int i = 0; i < 30 && !err.contains("off: "); ++i) {
            meter.Send(1);
            ++sent;
            QThread::msleep(100);
            driver.WaitForOutput(10);
            err += driver.TakeErr();
        }
        meter.Send(20);
        sent += 20;
        EXPECT_EQ(Printed(sent).size(), sent) << "readings went on";
        HangUpAndWait(meter);
        EXPECT_EQ(err.count("off: "), 1) << err.toStdString();
        EXPECT_TRUE(err.contains("was removed")) << err.toStdString();
    }
}

TEST_F(JournalTest, ALoadedJournalExportsAsTheTableItCameFrom) {
    ReadingsModel original;
    Journal journal(dir);
    ASSERT_TRUE(journal.Start().ok);
    const Reading readings[] = {{1.234, 1, 1},      {-0.0, 1, 2},    {kOverload, 2, 12}, {-kOverload, 0, 23},
                                {7.9, 0, 17},       {-12.26, 3, 10}, {0.125, 2, 6},      {12.5, 3, 26},
                                {0.1 + 0.2, 1, 11}, {-9999.0, 0, 0}};
    const std::int64_t start = WallTimeNow().EpochMs();
    for (int i = 0; i < 500; ++i) {
        const Reading& r = readings[i % std::size(readings)];
        const WallTime at = WallTimeAt(start + i * 537);
        original.Append(MakeDispatchedReading(1, i, at, r));
        journal.Append(MakeDispatchedReading(1, i, at, r));
    }
    const QString path = journal.CurrentFile();
    journal.Close();
    // A power cut in the middle of the next row.
    ASSERT_TRUE(std::ofstream(path.toStdString(), std::ios::app) << "2026-12-08T10:42:06.123+01:00,500,1.2");

    const LoadedJournal loaded = LoadJournal(path);
    ASSERT_TRUE(loaded.ok) << loaded.error.toStdString();
    EXPECT_TRUE(loaded.cutLastLine);
    EXPECT_EQ(loaded.damaged, 0);
    ASSERT_EQ(loaded.rows.size(), 500u);
    ReadingsModel reloaded;
    for (const JournalRow& row : loaded.rows)
        reloaded.Append(MakeDispatchedReading(1, reloaded.NextIndex(), row.at, row.reading));
    const QByteArray text = TableTextBytes(original);
    EXPECT_EQ(TableTextBytes(reloaded), text);
    EXPECT_FALSE(text.isEmpty());

    EXPECT_FALSE(LoadJournal(path + QStringLiteral(".missing")).ok);
    const QString notJournal = tmp.filePath(QStringLiteral("other.csv"));
    ASSERT_TRUE(std::ofstream(notJournal.toStdString()) << "a,b\r\n1,2\r\n");
    EXPECT_FALSE(LoadJournal(notJournal).ok);
}

int Prune(const QString& dir, int days, std::uint64_t bytes, std::string* said = nullptr) {
    PruneRules rules;
    rules.keepDays = days;
    rules.keepBytes = bytes;
    const PruneResult result = PruneJournals(dir.toStdString(), rules);
    if (said)
        *said = DescribePrune(result);
    return result.removed;
}

QStringList Interrupted(const QString& dir) {
    QStringList paths;
    for (const InterruptedRun& run : TakeInterruptedJournals(dir.toStdString()))
        paths << QString::fromStdString(run.path);
    return paths;
}

TEST_F(JournalTest, OldJournalsArePrunedAndInterruptedRunsNamedUntilLoaded) {
    ASSERT_TRUE(QDir().mkpath(dir));
    // 60 journals a minute apart, 1 KiB each, and one file that is not a journal.
    const auto name = [](int i) {
        return QStringLiteral("2026-12-08T10-%1-00.csv").arg(i, 2, 10, QLatin1Char('0'));
    };
    for (int i = 0; i < 60; ++i) {
        QFile f(dir + QLatin1Char('/') + name(i));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(1024, 'x'));
    }
    QFile(dir + QStringLiteral("/notes.txt")).open(QIODevice::WriteOnly);
    // Two runs started in the same second: the second (_2) is the newer.
    QFile(dir + QStringLiteral("/2026-12-08T11-00-00.csv")).open(QIODevice::WriteOnly);
    QFile(dir + QStringLiteral("/2026-12-08T11-00-00_2.csv")).open(QIODevice::WriteOnly);
    // An old journal another program still writes.
    const int held = ::open(QFile::encodeName(dir + QLatin1Char('/') + name(3)).constData(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    // The 12 oldest last written 40 days ago: they go (but not the held one), by age alone.
    for (int i = 0; i < 12; ++i) {
        const timeval old[2] = {{std::time(nullptr) - 40 * 86400, 0}, {std::time(nullptr) - 40 * 86400, 0}};
        ASSERT_EQ(::utimes(QFile::encodeName(dir + QLatin1Char('/') + name(i)).constData(), old), 0);
    }
    EXPECT_EQ(Prune(dir, 30, 1ll << 30), 11);
    QStringList left = Journals(dir);
    EXPECT_EQ(left.size(), 51);
    EXPECT_TRUE(left.contains(name(3)));
    EXPECT_FALSE(left.contains(name(11)));
    EXPECT_TRUE(left.contains(name(12)));
    // By size: both empty ones and the newest ten (and the held one).
    EXPECT_EQ(Prune(dir, 30, 10 * 1024 + 100), 38);
    left = Journals(dir);
    EXPECT_EQ(left.size(), 13);
    EXPECT_TRUE(left.contains(name(50)));
    EXPECT_FALSE(left.contains(name(49)));
    EXPECT_TRUE(left.contains(name(3)));
    EXPECT_TRUE(QFile::exists(dir + QStringLiteral("/notes.txt")));
    EXPECT_EQ(Prune(dir, 30, 1), 10) << "keeps the held, and empty files are no size";
    EXPECT_EQ(Journals(dir), (QStringList{name(3), QStringLiteral("2026-12-08T11-00-00.csv"),
                                          QStringLiteral("2026-12-08T11-00-00_2.csv")}));

    // An 11-day run of 100,000 readings with 50 newer one-row sessions: no count crowds it out;
    // over the size it goes, named with its span, rows and size.
    const auto Volts = [](int i) { return Reading{i * 0.001, 3, 1}; };
    const QString longDir = dir + QStringLiteral("/long");
    ASSERT_TRUE(QDir().mkpath(longDir));
    const QString longRun = longDir + QStringLiteral("/2026-11-28T09-00-00.csv");
    ASSERT_TRUE(testing::WriteJournal(longRun, 100000, 1764316800000, 9505, Volts));
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(testing::WriteJournal(
            longDir + QStringLiteral("/2026-12-09T10-%1-00.csv").arg(i, 2, 10, QLatin1Char('0')), 1,
            1765274400000 + i * 60000, 1000, Volts));
    std::string said;
    EXPECT_EQ(Prune(longDir, 365, 500ull << 20, &said), 0) << said;
    EXPECT_EQ(Prune(longDir, 365, 1 << 20, &said), 1);
    EXPECT_EQ(said, "Removed 2026-11-28T09-00-00.csv: 11 days, 100,000 readings, 6,753 KB") << said;

    // Markers: one beside a journal no one holds (interrupted), one beside the held journal, one
    // whose journal is gone.
    for (const QString& marker : {QStringLiteral(".2026-12-08T11-00-00_2.csv.open"), "." + name(3) + ".open",
                                  QStringLiteral(".2026-12-08T09-00-00.csv.open")})
        QFile(dir + QLatin1Char('/') + marker).open(QIODevice::WriteOnly);
    const QString newest = dir + QStringLiteral("/2026-12-08T11-00-00_2.csv");
    EXPECT_EQ(Interrupted(dir), QStringList{newest});
    EXPECT_EQ(Interrupted(dir), QStringList{newest}) << "kept until loaded";
    ::close(held);
    // A later start-up finds another interrupted run: every one is named, newest first, until
    // each is loaded.
    const QString older = dir + QLatin1Char('/') + name(3);
    EXPECT_EQ(Interrupted(dir), (QStringList{newest, older}));
    EXPECT_EQ(Prune(dir, 0, 0, &said), 0) << "interrupted runs are never pruned: " << said;
    ForgetInterrupted(older.toStdString());
    EXPECT_EQ(Interrupted(dir), QStringList{newest});
    ForgetInterrupted(newest.toStdString());
    EXPECT_TRUE(Interrupted(dir).isEmpty()) << "loaded";

    // A clean run leaves no marker; RESET starts a new file.
    {
        Journal journal(dir);
        ASSERT_TRUE(journal.Start().ok);
        const WallTime at = WallTimeNow();
        journal.Append(MakeDispatchedReading(1, 0, at, {1.0, 1, 1}));
        const QString first = journal.CurrentFile();
        journal.NewRun();
        journal.Append(MakeDispatchedReading(1, 0, at, {2.0, 1, 1}));
        const QString stamp = dir + QLatin1Char('/') + QString::fromStdString(FormatFileStamp(at));
        EXPECT_EQ(first, stamp + QStringLiteral(".csv"));
        EXPECT_EQ(journal.CurrentFile(), stamp + QStringLiteral("_2.csv"));
    }
    EXPECT_TRUE(Interrupted(dir).isEmpty());
    EXPECT_TRUE(QDir(dir).entryList({QStringLiteral(".*.csv.*")}, QDir::Files | QDir::Hidden).isEmpty());

    // An outbox bounded while running: files of 2 KB at most, the folder pruned to 6 KB as the
    // run goes on, and what went prunings from the sync thread.
    const QString outbox = tmp.filePath(QStringLiteral("outbox"));
    Journal journal(outbox);
    std::atomic<int> prunings{0};
    QObject::connect(
        &journal, &Journal::prunedWhileRunning, &journal, [&](const QString&) { ++prunings; },
        Qt::DirectConnection);
    PruneRules rules;
    rules.keepBytes = 6000;
    rules.splitBytes = 2000;
    rules.pruneEvery = std::chrono::milliseconds(50);
    ASSERT_TRUE(journal.Start(rules).ok);
    std::uint64_t most = 0;
    for (int i = 0; i < 1000; ++i) {
        journal.Append(MakeDispatchedReading(1, i, WallTimeAt(1765274400000 + i * 1000LL), {i * 0.5, 1, 1}));
        std::uint64_t bytes = 0;
        for (const QFileInfo& f : QDir(outbox).entryInfoList({QStringLiteral("*.csv")}, QDir::Files))
            bytes += static_cast<std::uint64_t>(f.size());
        most = std::max(most, bytes);
        if (i % 10 == 0)
            QThread::msleep(20);
    }
    EXPECT_GT(prunings.load(), 0);
    EXPECT_LT(most, 6000u + 2000u + 2 * 1000u) << "over it by the rows written between two prunings at most";
}

} // namespace
} // namespace zelvox
