// A child program for tests, with its standard output and error read through pipes. Started
// with fork and exec, not QProcess: Qt starts its children with a clone that shares the
// parent's memory, which ThreadSanitizer does not see, and after it the sanitizer no longer
// sees the test's own locks and reports races that are not there.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sys/types.h>

namespace zelvox::testing {

class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child(); // kills and reaps a child still running

    // Runs program with args; false (and nothing running) when it cannot be started.
    bool Start(const QString& program, const QStringList& args);
    bool Running();
    pid_t Pid() const { return pid_; }
    // Reads what the child wrote, waiting up to ms for the first bytes.
    void WaitForOutput(int ms);
    // What the child wrote to stdout / stderr since the last call.
    QByteArray TakeOut();
    QByteArray TakeErr();
    // Waits up to ms for the child to end, reading its output meanwhile.
    bool WaitForFinished(int ms);
    // Its exit code; -1 when it was ended by a signal or has not ended.
    int ExitCode() const { return exitCode_; }

private:
    void Reap(bool block);
    void CloseFds();

    pid_t pid_ = 0;
    int out_ = -1, err_ = -1;
    int exitCode_ = -1;
    QByteArray outBuf_, errBuf_;
};

} // namespace zelvox::testing
