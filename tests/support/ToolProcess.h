// The built command-line tools (zelvox-sim, zelvox-decode) run as child processes by tests.
#pragma once

#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <csignal>

namespace zelvox::testing {

inline QString Tool(const char* name) {
    return QStringLiteral(ZELVOX_BINARY_DIR "/tools/") + QLatin1String(name);
}

// Whether both tools are built; the cases that run them skip otherwise.
inline bool ToolsBuilt() {
    return QFileInfo(Tool("zelvox-sim")).isExecutable() && QFileInfo(Tool("zelvox-decode")).isExecutable();
}

// Starts zelvox-sim in p and returns the port path it prints first (empty when it did not).
inline QString StartSim(QProcess& p, const QStringList& args = {}) {
    p.start(Tool("zelvox-sim"), args);
    if (!p.waitForStarted() || !p.waitForReadyRead(5000))
        return {};
    return QString::fromLocal8Bit(p.readLine()).trimmed();
}

// Ends p with SIGTERM if it still runs, and kills it if it has not ended within waitMs.
inline void EndProcess(QProcess& p, int waitMs = 5000) {
    if (p.state() == QProcess::NotRunning)
        return;
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    if (!p.waitForFinished(waitMs))
        p.kill();
    p.waitForFinished(1000);
}

} // namespace zelvox::testing
