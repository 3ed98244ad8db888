// Ends the program the way its close box does when the system asks it to stop: SIGINT
// (Ctrl+C in its terminal), SIGTERM (kill, a session ending) and SIGHUP (its terminal closed).
// Every window is closed, which stops acquisition and lets go of the port, and the event loop
// ends; the program then exits with status 0. A second signal of the kind while that is under
// way ends the program at once.
#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace zelvox {

class StopSignals;

class SignalShutdown : public QObject {
    Q_OBJECT
public:
    // Catches the three signals until destroyed. Make it on the UI thread, one at a time.
    explicit SignalShutdown(QObject* parent = nullptr);
    ~SignalShutdown() override;

signals:
    // Emitted on the UI thread before the windows are closed.
    void received(int signalNumber);

private:
    void OnReadable();

    std::unique_ptr<StopSignals> signals_; // the handler, shared with the headless logger
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace zelvox
