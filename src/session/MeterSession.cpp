#include "session/MeterSession.h"

#include "decode/Format.h"
#include "link/Acquisition.h"
#include "link/Settings.h"
#include "session/ReadingsModel.h"

#include <QThread>
#include <QTimer>

namespace zelvox {

namespace {

constexpr int kDispatchPeriodMs = 5;
constexpr int kResetPauseMs = 10;

} // namespace

MeterSession::MeterSession(const Settings& settings, QObject* parent)
    : QObject(parent), settings_(settings), history_(std::make_unique<ReadingHistory>()),
      readings_(new ReadingsModel(this)), dispatchTimer_(new QTimer(this)),
      acquisition_(std::make_unique<Acquisition>(*history_)) {
    dispatchTimer_->setObjectName(QStringLiteral("dispatchTimer"));
    dispatchTimer_->setInterval(kDispatchPeriodMs);
    connect(dispatchTimer_, &QTimer::timeout, this, qOverload<>(&MeterSession::DispatchReading));
    // The table row is the first record kept of every dispatched reading.
    connect(this, &MeterSession::readingRecorded, readings_,
            qOverload<const DispatchedReading&>(&ReadingsModel::Append));

    // Until the first START the display shows every segment lit, and the mirror agrees.
    mirrored_.fill(0xFF);
    changes_.reserve(4 * (kFrameSize - 2)); // one bit per segment picture

    // The acquisition hands frames and dispatch requests to this thread in the order the workers
    // sent them.
    connect(acquisition_.get(), &Acquisition::frameAccepted, this, &MeterSession::MirrorFrame);
    connect(acquisition_.get(), &Acquisition::dispatchRequested, this, &MeterSession::ArmDispatchTimer);
}

MeterSession::~MeterSession() {
    // The workers write the history and post to this object: end them before anything goes.
    acquisition_->StopAcquisition();
    dispatchTimer_->stop();
}

StartResult MeterSession::Start() {
    const StartResult result = acquisition_->StartAcquisition(settings_.portName, settings_.samplingRate);
    if (result.status != StartStatus::Started)
        return result;
    // Frames reach MirrorFrame through this thread's queue, so none is mirrored before the
    // display is dark and the mirror says so.
    mirrored_.fill(0);
    emit started();
    return result;
}

void MeterSession::Stop() {
    acquisition_->StopAcquisition();
    emit stopped();
}

bool MeterSession::IsRunning() const {
    return acquisition_->IsRunning();
}

void MeterSession::Reset() {
    dispatchTimer_->stop();
    WorkerPause pause = PauseWorkers();
    history_->Reset();
    readings_->Clear();
    ++run_;
    emit dataReset();
    QThread::msleep(kResetPauseMs);
}

void MeterSession::DispatchReading() {
    DispatchReading(acquisition_->CurrentReading());
}

void MeterSession::DispatchReading(const Reading& reading) {
    const MaxMinTexts texts = stats_.UpdateMaxMin(reading, *history_);
    emit runCounted(texts.newRun);
    emit maxMinUpdated(texts);
    emit readingRecorded(MakeDispatchedReading(run_, readings_->Count(), WallTimeNow(), reading));
    emit readingDispatched(reading);
    history_->readingPending = 0;
    dispatchTimer_->stop();
}

WorkerPause MeterSession::PauseWorkers() {
    return WorkerPause(acquisition_->paused);
}

bool MeterSession::Paused() const {
    return acquisition_->paused.load() != 0;
}

bool MeterSession::DispatchArmed() const {
    return dispatchTimer_->isActive();
}

void MeterSession::ArmDispatchTimer() {
    dispatchTimer_->start(); // arming again replaces the previous arming
}

void MeterSession::MirrorFrame(const Frame& frame) {
    changes_.clear();
    UpdateSegmentMirror(frame, mirrored_, changes_);
    if (!changes_.empty())
        emit frameMirrored(changes_);
}

} // namespace zelvox
