#include "session/MeterSession.h"

#include "decode/Format.h"
#include "decode/FrameEncoder.h"
#include "decode/Labels.h"
#include "link/Acquisition.h"
#include "link/Settings.h"
#include "session/ReadingsModel.h"

#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

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
    connect(acquisition_.get(), &Acquisition::linkChanged, this, &MeterSession::OnLinkChanged);
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
    runPort_ = settings_.portName;
    emit started();
    return result;
}

void MeterSession::Stop() {
    acquisition_->StopAcquisition();
    // The run is over: what was said about its link is no longer true.
    WithdrawLinkNotice(silenceNotice_);
    WithdrawLinkNotice(lostNotice_);
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
    fullSaid_ = false;
    loading_ = false;
    loadedTail_.clear();
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
        if (loading_ && dispatchedDuringLoad_++ == 0)
            firstIndexDuringLoad_ = readings_->NextIndex();
        emit readingRecorded(MakeDispatchedReading(run_, readings_->NextIndex(), WallTimeNow(), reading));
    }
    emit readingDispatched(reading);
    history_->readingPending = 0;
    dispatchTimer_->stop();
}

void MeterSession::BeginLoad(std::int64_t largestIndex) {
    loading_ = true;
    loadPosition_ = readings_->Count();
    dispatchedDuringLoad_ = 0;
    loadedLeftOut_ = 0;
    readings_->ReserveIndices(largestIndex);
    loadedTail_.clear();
    loadedTailNext_ = 0;
}

void MeterSession::AddLoadedRows(const std::vector<ReadingsModel::LoadedRow>& rows) {
    if (!loading_)
        return;
    std::vector<ReadingsModel::LoadedRow> kept;
    const std::vector<ReadingsModel::LoadedRow>* put = &rows;
    if (dispatchedDuringLoad_ > 0) {
        // Rows past the file's tail as it was when the load began (the file grew, or its Index
        // goes back and forth): those whose Index a new reading has already are left out.
        for (const ReadingsModel::LoadedRow& row : rows)
            if (row.index < firstIndexDuringLoad_)
                kept.push_back(row);
        loadedLeftOut_ += static_cast<std::int64_t>(rows.size() - kept.size());
        put = &kept;
    }
    readings_->InsertRows(loadPosition_, *put);
    loadPosition_ += static_cast<int>(put->size());
    for (const ReadingsModel::LoadedRow& row : *put) {
        if (loadedTail_.size() < ReadingHistory::kCapacity) {
            loadedTail_.push_back(row);
        } else {
            loadedTail_[loadedTailNext_] = row;
            loadedTailNext_ = (loadedTailNext_ + 1) % ReadingHistory::kCapacity;
        }
    }
}

std::int64_t MeterSession::EndLoad() {
    if (!loading_)
        return 0;
    loading_ = false;
    readings_->ReserveIndices(-1);
    std::vector<ReadingsModel::LoadedRow> rows = std::move(loadedTail_);
    loadedTail_ = {};
    std::rotate(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(loadedTailNext_), rows.end());
    // Readings dispatched during the load are newer: the graph, the gauge and MAX/MIN keep them.
    if (rows.empty() || dispatchedDuringLoad_ > 0 || history_->Count() > 0)
        return loadedLeftOut_;

    std::vector<double> values(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        values[i] = rows[i].reading.value;
    const std::uint8_t function = rows.back().reading.functionCode;
    std::size_t runStart = rows.size() - 1;
    while (runStart > 0 && rows[runStart - 1].reading.functionCode == function)
        --runStart;
    history_->Fill(values.data(), static_cast<std::uint16_t>(rows.size()),
                   static_cast<std::uint16_t>(runStart), function);

    // MAX/MIN of the last run, as its dispatches would have left them, with the rows' times.
    MaxMinTexts texts;
    texts.newRun = true;
    const Reading& first = rows[runStart].reading;
    stats_.maxValue = stats_.minValue = IsOverload(first.value) ? 0.0 : first.value;
    const ReadingsModel::LoadedRow* maxRow = nullptr;
    const ReadingsModel::LoadedRow* minRow = nullptr;
    for (std::size_t i = runStart; i < rows.size(); ++i) {
        const Reading& r = rows[i].reading;
        if (IsOverload(r.value))
            continue;
        if (r.value >= stats_.maxValue)
            stats_.maxValue = r.value, maxRow = &rows[i];
        if (r.value <= stats_.minValue)
            stats_.minValue = r.value, minRow = &rows[i];
    }
    const std::u16string_view unit = function < kFunctionCount ? unitLabels[function] : std::u16string_view();
    const auto valueText = [&](const Reading& r) {
        return FormatValue(r.value, r.pointPosition) + std::u16string(unit);
    };
    if (maxRow) {
        texts.maxValueText = valueText(maxRow->reading);
        texts.maxTimeText = FormatTime(maxRow->at);
    }
    if (minRow) {
        texts.minValueText = valueText(minRow->reading);
        texts.minTimeText = FormatTime(minRow->at);
    }
    emit maxMinUpdated(texts);
    // The graph's pages start again and count the loaded run.
    emit runCounted(true);
    emit runCounted(false);
    // The LCD shows the display of the last loaded reading, unless a live display is coming.
    if (!IsRunning()) {
        const Reading& last = rows.back().reading;
        const std::u16string text = FormatTableValue(last.value, last.pointPosition);
        if (const auto frame = EncodeReading(std::string(text.begin(), text.end()), last.functionCode))
            MirrorFrame(*frame);
    }
    emit readingsLoaded(rows.back().reading);
    return loadedLeftOut_;
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

void MeterSession::OnLinkChanged(LinkEvent event, int error) {
    switch (event) {
    case LinkEvent::Silent:
        silenceNotice_ =
            QStringLiteral("No data from %1 \u2014 check: meter on, serial output enabled, right port")
                .arg(runPort_);
        emit linkNotice(silenceNotice_);
        break;
    case LinkEvent::Heard:
        WithdrawLinkNotice(silenceNotice_);
        break;
    case LinkEvent::Lost:
        WithdrawLinkNotice(silenceNotice_);
        // A device that went away hangs up (end of file) or fails with EIO, ENODEV or ENXIO.
        if (error == 0 || error == EIO || error == ENODEV || error == ENXIO)
            lostNotice_ = QStringLiteral("%1 unplugged \u2014 reopening it every second").arg(runPort_);
        else
            lostNotice_ = QStringLiteral("%1 failed (%2) \u2014 reopening it every second")
                              .arg(runPort_, QString::fromLocal8Bit(std::strerror(error)));
        emit linkNotice(lostNotice_);
        break;
    case LinkEvent::Back:
        // The notice of the loss stays until its time is up: the user sees both.
        lostNotice_.clear();
        emit linkNotice(QStringLiteral("%1 is back").arg(runPort_));
        break;
    }
}

void MeterSession::WithdrawLinkNotice(QString& text) {
    if (text.isEmpty())
        return;
    emit linkNoticeWithdrawn(std::exchange(text, QString()));
}

void MeterSession::MirrorFrame(const Frame& frame) {
    changes_.clear();
    UpdateSegmentMirror(frame, mirrored_, changes_);
    if (!changes_.empty())
        emit frameMirrored(changes_);
}

} // namespace zelvox
