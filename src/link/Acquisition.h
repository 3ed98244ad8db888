// Serial acquisition: the open port, the reader thread (framer + decoder + history) and the
// sampling thread that paces the UI dispatch. Workers never touch widgets: they queue frame
// copies and dispatch requests for the UI thread, which emits the signals below in that order
// (both signals are always emitted on the thread the Acquisition lives in).
#pragma once

#include "decode/Frame.h"
#include "decode/Reading.h"
#include "decode/ReadingHistory.h"
#include "link/LinkEvent.h"
#include "link/StartResult.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace zelvox {

class Acquisition : public QObject {
    Q_OBJECT
public:
    // Starts worker 1 (the reader) or 2 (the sampling thread) running `body`; START reports
    // ThreadFailed when it throws std::system_error, as std::thread does when the system has
    // no threads left. Tests pass one that fails.
    using WorkerStarter = std::function<std::thread(int worker, std::function<void()> body)>;

    explicit Acquisition(ReadingHistory& history, QObject* parent = nullptr);
    Acquisition(ReadingHistory& history, WorkerStarter startWorker, QObject* parent = nullptr);
    ~Acquisition() override; // stops and joins both workers

    // A running link that has accepted no frame for this long says so (LinkEvent::Silent).
    static constexpr std::chrono::milliseconds kSilenceLimit{5000};
    // A lost port is tried again this often.
    static constexpr std::chrono::milliseconds kReopenEvery{1000};

    using StartStatus = zelvox::StartStatus;
    using StartResult = zelvox::StartResult;

    // Opens portName (a short name under /dev such as "ttyUSB0", or an absolute path),
    // configures it (2400 8N1, no flow control, DTR/RTS not raised), starts both workers,
    // and waits 100 ms. samplingRate is readings per minute (1..120).
    StartResult StartAcquisition(const QString& portName, int samplingRate);

    // Ends both workers (bounded at any sampling rate), joins them and closes the port.
    // Leaves the current reading and the history as they are.
    void StopAcquisition();

    // True from a successful START to STOP.
    bool IsRunning() const;
    bool PortOpen() const;

    // The last accepted frame's reading, read as one unit.
    Reading CurrentReading() const;

    ReadingHistory& History() { return history_; }

    // While non-zero both workers skip their work (RESET, the exports).
    std::atomic<int> paused{0};

signals:
    // For the segment mirror on the UI thread, in frame order: the first accepted frame of a
    // run, then every accepted frame whose display differs from the one handed over before.
    void frameAccepted(const zelvox::Frame& frame);
    // Arm the 5 ms dispatch timer: a sampling period after a reading was stored, and again
    // after each further period while it is still pending. The next period begins when the
    // dispatch has cleared the mark and a newer reading has been stored.
    void dispatchRequested();
    // The link fell silent, was heard again, lost its port or has it back, in the order the
    // reader saw it among the frames. `error` is the failed read's errno for Lost (0 when the
    // device hung up), else 0.
    void linkChanged(zelvox::LinkEvent event, int error);

private:
    struct Impl;
    ReadingHistory& history_;
    std::unique_ptr<Impl> impl_;
};

} // namespace zelvox

Q_DECLARE_METATYPE(zelvox::Frame)
