// The command-line tools end to end: zelvox-sim streams into a pseudo-terminal and
// zelvox-decode --port reads it live.
#include "support/ToolProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>

namespace {

using zelvox::testing::Tool;

class Tools : public ::testing::Test {
protected:
    void SetUp() override {
        if (!zelvox::testing::ToolsBuilt())
            GTEST_SKIP() << "zelvox-sim and zelvox-decode are not built";
        ASSERT_TRUE(dir.isValid());
    }
    QString StartSim(const QStringList& args) { return zelvox::testing::StartSim(sim, args); }
    void TearDown() override {
        zelvox::testing::EndProcess(decode);
        zelvox::testing::EndProcess(sim);
    }

    QTemporaryDir dir;
    QProcess sim, decode;
};

TEST_F(Tools, DecodeFollowsTheSimulatedMeterLiveAndStopsCleanly) {
    const QString displays = dir.filePath(QStringLiteral("displays.txt"));
    QFile file(displays);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("1 1.234\n12 OL\n23 -5.0\n");
    file.close();
    const QString link = dir.filePath(QStringLiteral("meter"));
    const QString port = StartSim({QStringLiteral("--displays"), displays, QStringLiteral("--link"), link,
                                   QStringLiteral("--wait"), QStringLiteral("--corrupt"), QStringLiteral("4"),
                                   QStringLiteral("--stray"), QStringLiteral("3"), QStringLiteral("--pace"),
                                   QStringLiteral("4"), QStringLiteral("--frames"), QStringLiteral("24")});
    ASSERT_TRUE(port.startsWith(QStringLiteral("/dev/pts/"))) << port.toStdString();
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), port);

    decode.start(Tool("zelvox-decode"), {QStringLiteral("--once"), QStringLiteral("--port"), link});
    ASSERT_TRUE(decode.waitForStarted());
    ASSERT_TRUE(sim.waitForFinished(10000)) << "zelvox-sim did not stop after --frames";
    EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(link)) << "the link outlived the simulator";

    // The meter is gone: the port hangs up and the decoder (told --once) says so and ends.
    ASSERT_TRUE(decode.waitForFinished(5000));
    EXPECT_EQ(decode.exitCode(), 1);
    EXPECT_TRUE(decode.readAllStandardError().contains("port"));
    const QList<QByteArray> lines = decode.readAllStandardOutput().split('\n');
    // 24 frames, every 4th damaged: 18 lines (and the empty piece after the last newline).
    ASSERT_EQ(lines.size(), 19);
    const char* expected[3][2] = {{"1.234", "1"}, {"999999", "12"}, {"-5", "23"}};
    for (int i = 0; i < 18; ++i) {
        const int frame = i + i / 3; // frames 3, 7, 11... were damaged
        const QList<QByteArray> fields = lines[i].split('\t');
        ASSERT_EQ(fields.size(), 5) << lines[i].toStdString();
        EXPECT_EQ(fields[0], expected[frame % 3][0]) << "line " << i;
        EXPECT_EQ(fields[2], expected[frame % 3][1]) << "line " << i;
    }
}

TEST_F(Tools, SignalsEndBothToolsWithStatusZero) {
    const QString port = StartSim({});
    ASSERT_FALSE(port.isEmpty());
    decode.start(Tool("zelvox-decode"), {QStringLiteral("--port"), port});
    ASSERT_TRUE(decode.waitForStarted());
    ASSERT_TRUE(decode.waitForReadyRead(3000)) << "no frame decoded";
    for (QProcess* p : {&decode, &sim}) {
        ::kill(static_cast<pid_t>(p->processId()), p == &decode ? SIGINT : SIGTERM);
        ASSERT_TRUE(p->waitForFinished(3000));
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0);
    }
}

TEST_F(Tools, SimulatorEndsCleanlyOnEachSignalThatAsksItTo) {
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(strsignal(signalNumber));
        const QString link = dir.filePath(QStringLiteral("meter"));
        ASSERT_FALSE(StartSim({QStringLiteral("--link"), link}).isEmpty());
        ASSERT_TRUE(QFileInfo(link).isSymLink());
        ::kill(static_cast<pid_t>(sim.processId()), signalNumber);
        ASSERT_TRUE(sim.waitForFinished(3000));
        EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(sim.exitCode(), 0);
        EXPECT_FALSE(QFileInfo(link).isSymLink()) << "the link outlived the simulator";
    }
}

TEST_F(Tools, DecodeWaitsForAPortAbsentAtStartOrWithOnceReportsIt) {
    const QString link = dir.filePath(QStringLiteral("ttyUSB9"));
    decode.start(Tool("zelvox-decode"), {QStringLiteral("--once"), QStringLiteral("--port"), link});
    ASSERT_TRUE(decode.waitForFinished(3000));
    EXPECT_EQ(decode.exitCode(), 1);
    EXPECT_TRUE(decode.readAllStandardError().contains("No such file or directory"));

    // Without --once the adapter is waited for: said once, no exit, its readings once it is there.
    decode.start(Tool("zelvox-decode"), {QStringLiteral("--port"), link});
    ASSERT_FALSE(decode.waitForFinished(2500)) << decode.readAllStandardError().toStdString();
    const QByteArray waiting = decode.readAllStandardError();
    EXPECT_EQ(waiting.count("waiting for"), 1) << waiting.toStdString();
    ASSERT_FALSE(StartSim({QStringLiteral("--link"), link}).isEmpty());
    ASSERT_TRUE(decode.waitForReadyRead(4000)) << "no reading after the port appeared";
    EXPECT_TRUE(decode.readAllStandardError().contains("is back"));
}

} // namespace
