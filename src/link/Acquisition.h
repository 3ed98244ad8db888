// Serial acquisition for the window: the acquisition core (link/AcquisitionCore.h: the port, the
// reader and the sampling thread) with its hand-offs turned into signals on the thread this
// object lives in, in the order the workers sent them.
#pragma once

#include "decode/Frame.h"
#include "decode/Reading.h"
#include "decode/ReadingHistory.h"
#include "link/AcquisitionCore.h"
#include "link/LinkEvent.h"
#include "link/StartResult.h"
#include "link/WorkerPause.h"

#include <QObject>
#include <QString>
#include <memory>

class QSocketNotifier;

namespace zelvox {

class Acquisition : public QObject {
    Q_OBJECT
public:
    using WorkerStarter = AcquisitionCore::WorkerStarter;
    using StartStatus = zelvox::StartStatus;
    using StartResult = zelvox::StartResult;

    static constexpr auto kSilenceLimit = AcquisitionCore::kSilenceLimit;
    static constexpr auto kReopenEvery = AcquisitionCore::kReopenEvery;

    explicit Acquisition(ReadingHistory& history, QObject* parent = nullptr);
    Acquisition(ReadingHistory& history, WorkerStarter startWorker, QObject* parent = nullptr);
    ~Acquisition() override; // stops and joins both workers

    // Opens portName (a short name under /dev such as "ttyUSB0", or an absolute path),
    // configures it (2400 8N1, no flow control, DTR/RTS not raised), starts both workers,
    // and waits 100 ms. samplingRate is readings per minute (1..120). Refused while running.
    StartResult StartAcquisition(const QString& portName, int samplingRate);

    // Ends both workers (bounded at any sampling rate), joins them and closes the port.
    // Leaves the current reading and the history as they are.
    void StopAcquisition();

    // True from a successful START to STOP.
    bool IsRunning() const { return core_.IsRunning(); }

    // The last accepted frame's reading, read as one unit.
    Reading CurrentReading() const { return core_.CurrentReading(); }

    ReadingHistory& History() { return core_.History(); }

    // Both workers skip their work while a pause lives (RESET, the exports).
    WorkerPause PauseWorkers() { return core_.PauseWorkers(); }
    bool Paused() const { return core_.Paused(); }

    // Runs on the reader thread (AcquisitionCore::ReaderTap); set before Start.
    void SetReaderTap(AcquisitionCore::ReaderTap* tap) { core_.SetReaderTap(tap); }

signals:
    // For the segment mirror, in frame order: the first accepted frame of a run, then every
    // accepted frame whose display differs from the one handed over before.
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
    void Deliver();

    AcquisitionCore core_;
    std::unique_ptr<QSocketNotifier> wake_;
};

} // namespace zelvox

Q_DECLARE_METATYPE(zelvox::Frame)
Q_DECLARE_METATYPE(zelvox::LinkEvent)
