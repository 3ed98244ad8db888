#include "session/MeterSession.h"

#include "journal/AlarmKeeper.h"
#include "journal/RecordKeeper.h"
#include "link/Acquisition.h"
#include "link/Settings.h"
#include "session/ReadingsModel.h"

#include <QThread>
#include <QTimer>
#include <utility>

namespace zelvox {

namespace {

constexpr int kDispatchPeriodMs = 5;
constexpr int kResetPauseMs = 10;

} // namespace

MeterSession::MeterSession(const Settings& settings, QObject* parent)
    : QObject(parent), settings_(settings), history_(std::make_unique<ReadingHistory>()),
      readings_(new ReadingsModel(this)), dispatchTimer_(new QTimer(this)),
      acquisition_(std::make_unique<Acquisition>(*history_)), keeper_(new RecordKeeper(this)),
      merge_(*readings_, *history_, stats_) {
    dispatchTimer_->setObjectName(QStringLiteral("dispatchTimer"));
    dispatchTimer_->setInterval(kDispatchPeriodMs);
    connect(dispatchTimer_, &QTimer::timeout, this, qOverload<>(&MeterSession::DispatchReading));
    // The table row is the first record kept of every dispatched reading.
    keeper_->KeepTable([this](const DispatchedReading& d) { readings_->Append(d); });

    // Until the first START the display shows every segment lit, and the mirror agrees.
    mirrored_.fill(0xFF);
    changes_.reserve(4 * (kFrameSize - 2)); // one bit per segment picture

    // The acquisition hands frames and dispatch requests to this thread in the order the workers
    // sent them.
    connect(acquisition_.get(), &Acquisition::frameAccepted, this, &MeterSession::MirrorFrame);
    connect(acquisition_.get(), &Acquisition::dispatchRequested, this, &MeterSession::ArmDispatchTimer);
    connect(acquisition_.get(), &Acquisition::linkChanged, this, &MeterSession::linkChanged);
}

MeterSession::~MeterSession() {
    // The workers write the history and post to this object: end them before anything goes.
    acquisition_->StopAcquisition();
    dispatchTimer_->stop();
}

StartResult MeterSession::Start() {
    if (IsRunning()) {
        StartResult refused;
        refused.status = StartStatus::PortAlreadyOpen;
        return refused;
    }
    if (alarms_)
        alarms_->Begin(readings_->NextIndex());
    const StartResult result = acquisition_->StartAcquisition(settings_.portName, settings_.samplingRate);
    if (result.status != StartStatus::Started) {
        if (alarms_)
            alarms_->End();
        return result;
    }
    // Frames reach MirrorFrame through this thread's queue, so none is mirrored before the
    // display is dark and the mirror says so.
    mirrored_.fill(0);
    runPort_ = settings_.portName;
    emit started();
    return result;
}

void MeterSession::Stop() {
    acquisition_->StopAcquisition();
    // A firing rule is said as ended.
    if (alarms_)
        alarms_->End();
    emit stopped();
}

void MeterSession::WatchAlarms(std::unique_ptr<AlarmKeeper> alarms) {
    alarms_ = std::move(alarms);
    acquisition_->SetReaderTap(alarms_.get());
    if (AlarmKeeper* a = alarms_.get())
        keeper_->KeepRules([a](const DispatchedReading& d) { a->Kept(d); });
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
    fullSaid_ = false;
    merge_.Cancel();
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
    if (readings_->Full()) {
        if (!fullSaid_)
            emit tableFull();
        fullSaid_ = true;
    } else {
        merge_.Dispatching();
        keeper_->Keep(MakeDispatchedReading(run_, readings_->NextIndex(), WallTimeNow(), reading));
    }
    emit readingDispatched(reading);
    history_->readingPending = 0;
    dispatchTimer_->stop();
}

void MeterSession::BeginLoad(std::int64_t largestIndex) {
    merge_.Begin(largestIndex);
}

void MeterSession::AddLoadedRows(const std::vector<ReadingsModel::LoadedRow>& rows) {
    if (!merge_.Active())
        return;
    merge_.Add(rows);
    // The loaded run is part of the whole run the Run View shows (run 0: before this session's).
    keeper_->KeepLoaded(rows, 0);
}

std::int64_t MeterSession::EndLoad() {
    const LoadMerge::Outcome outcome = merge_.End();
    if (!outcome.texts)
        return outcome.leftOut;
    emit maxMinUpdated(*outcome.texts);
    // The graph's pages start again and count the loaded run.
    emit runCounted(true);
    emit runCounted(false);
    // The LCD shows the display of the last loaded reading, unless a live display is coming.
    if (!IsRunning() && outcome.display)
        MirrorFrame(*outcome.display);
    emit readingsLoaded(*outcome.last);
    return outcome.leftOut;
}

WorkerPause MeterSession::PauseWorkers() {
    return acquisition_->PauseWorkers();
}

bool MeterSession::Paused() const {
    return acquisition_->Paused();
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
