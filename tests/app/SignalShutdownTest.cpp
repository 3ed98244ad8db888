// Ending the program by a signal while it holds a port: the port is free for the next program
// afterwards, and never while the holder lives. The holder is this test program run again as
// a child (SignalChild below), doing what main() does.
#include "app/SignalShutdown.h"
#include "app/MainWindow.h"
#include "app/ZelvoxApplication.h"
#include "link/SerialPort.h"
#include "panes/ControlPanel.h"
#include "res/ControlIds.h"
#include "session/MeterSession.h"
#include "support/JournalFiles.h"
#include "support/Pty.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace zelvox;

namespace {

constexpr char kPortVariable[] = "ZELVOX_TEST_SIGNAL_CHILD_PORT";
constexpr char kRunningMark[] = "signal-child: acquisition running";

TEST(SignalChild, RunsOnThePortUntilASignalEndsIt) {
    const QString port = qEnvironmentVariable(kPortVariable);
    if (port.isEmpty())
        GTEST_SKIP() << "the child of SignalShutdown.EveryEndingLeavesThePortFreeAndALiveHolderKeepsIt";
    SignalShutdown shutdown;
    int received = 0;
    QObject::connect(&shutdown, &SignalShutdown::received, [&](int s) { received = s; });
    ZelvoxApplication app;
    CommandLine options;
    options.port = port;
    ASSERT_TRUE(app.InitInstance(options));
    QPointer<MainWindow> window = app.Window();
    window->PanelPane()->findChild<QPushButton*>(ControlName(kStartButton))->click();
    ASSERT_TRUE(window->Session().IsRunning());
    std::printf("\n%s\n", kRunningMark);
    std::fflush(stdout);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_NE(received, 0);
    EXPECT_TRUE(window.isNull() || !window->isVisible()) << "the window was not closed";
}

TEST(SignalShutdown, EveryEndingLeavesThePortFreeAndALiveHolderKeepsIt) {
    // SIGQUIT and SIGKILL are not caught: the program just ends (without a core file here).
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGKILL}) {
        SCOPED_TRACE(strsignal(signalNumber));
        zelvox::testing::Pty pty;
        ASSERT_TRUE(pty.ok());
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QLatin1String(kPortVariable), pty.SlavePath());
        child.setProcessEnvironment(env);
        child.setChildProcessModifier([] {
            const rlimit noCore{0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);
        });
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=SignalChild.*")});
        ASSERT_TRUE(child.waitForStarted());
        QByteArray output;
        QElapsedTimer clock;
        clock.start();
        // A loaded machine may keep the child quiet for a while: wait on the clock, not on a
        // silence.
        while (!output.contains(kRunningMark) && clock.elapsed() < 10000 &&
               child.state() == QProcess::Running) {
            child.waitForReadyRead(200);
            output += child.readAllStandardOutput();
        }
        ASSERT_TRUE(output.contains(kRunningMark)) << output.toStdString();

        PortError error;
        EXPECT_FALSE(CreateSerialPort()->Open(pty.SlavePath(), &error)) << "two programs share the port";
        EXPECT_EQ(error.code, EBUSY);

        ::kill(static_cast<pid_t>(child.processId()), signalNumber);
        ASSERT_TRUE(child.waitForFinished(5000));
        output += child.readAllStandardOutput();
        if (signalNumber == SIGKILL || signalNumber == SIGQUIT) {
            EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
        } else {
            EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
        }
        auto next = CreateSerialPort();
        EXPECT_TRUE(next->Open(pty.SlavePath(), &error)) << error.reason.toStdString();
    }
}

// True once the process catches signalNumber (its handler is installed).
bool Catches(qint64 pid, int signalNumber) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signalNumber - 1)) & 1;
    return false;
}

TEST(SignalShutdown, TheProgramItselfEndsWithStatusZeroOnSigtermAndSigint) {
    zelvox::testing::Pty pty;
    ASSERT_TRUE(pty.ok());
    // A journal whose two Numbers differ in their last bits, as 0.1 + 0.2 writes them: its value
    // axis spans one ulp.
    QTemporaryDir dir;
    const QString journal = dir.filePath(QStringLiteral("sum.csv"));
    ASSERT_TRUE(zelvox::testing::WriteJournal(journal, 2, 1796726526000, 500, [](int i) {
        return zelvox::Reading{i == 0 ? 0.3 : 0.1 + 0.2, 3, 1};
    }));
    const struct {
        QStringList arguments;
        int signalNumber;
    } runs[] = {
        {{QStringLiteral("--port"), pty.SlavePath()}, SIGTERM},
        {{QStringLiteral("--view"), journal}, SIGTERM},
        {{QStringLiteral("--view"), journal}, SIGINT},
    };
    for (const auto& run : runs) {
        QProcess zelvox;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        zelvox.setProcessEnvironment(env);
        zelvox.start(QStringLiteral(ZELVOX_BINARY_DIR "/src/zelvox"), run.arguments);
        ASSERT_TRUE(zelvox.waitForStarted());
        QElapsedTimer clock;
        clock.start();
        while (!Catches(zelvox.processId(), run.signalNumber) && clock.elapsed() < 10000)
            QThread::msleep(10);
        ASSERT_TRUE(Catches(zelvox.processId(), run.signalNumber));
        QThread::msleep(800); // the journal read and drawn
        ::kill(static_cast<pid_t>(zelvox.processId()), run.signalNumber);
        ASSERT_TRUE(zelvox.waitForFinished(5000)) << run.arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(zelvox.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(zelvox.exitCode(), 0) << zelvox.readAllStandardError().toStdString();
    }
}

} // namespace
