// Waiting in GUI tests: the UI event loop runs while a test waits, so queued signals, timers
// and modal boxes get their turn.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace zelvox::testing {

// Runs the UI event loop until pred() holds or timeoutMs pass; returns pred's last answer.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return pred();
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
        // Objects deleted later from outside any event loop (a window closed by the test) go
        // now, as they would in the program's own loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

// Runs the UI event loop for ms milliseconds.
inline void SpinFor(int ms) {
    WaitUntil([] { return false; }, ms);
}

} // namespace zelvox::testing
