// The meter session: the reading pipeline between the serial link and the panes. It owns the
// acquisition, the reading history, the statistics, the readings model, the 5 ms dispatch timer
// and the running state, mirrors the meter's display and hands out one reading per sampling
// period. It holds no widget: the main window connects the panes to its signals, and the panes
// ask it for START, STOP and RESET.
#pragma once

#include "decode/Decoder.h"
#include "decode/Frame.h"
#include "decode/Reading.h"
#include "decode/ReadingHistory.h"
#include "decode/Statistics.h"
#include "link/LinkEvent.h"
#include "link/StartResult.h"
#include "record/ReadingRecord.h"
#include "session/ReadingsModel.h"

#include <QObject>
#include <atomic>
#include <memory>
#include <vector>

class QTimer;

namespace zelvox {

class Acquisition;
class ReadingsModel;
struct Settings;

// Raises the workers' `paused` flag for as long as it lives (or until Release): the reader and
// the sampling thread idle meanwhile. Taken by RESET and the exports.
class WorkerPause {
public:
    explicit WorkerPause(std::atomic<int>& flag) : flag_(&flag) { flag_->store(1); }
    WorkerPause(WorkerPause&& other) noexcept : flag_(other.flag_) { other.flag_ = nullptr; }
    WorkerPause(const WorkerPause&) = delete;
    WorkerPause& operator=(const WorkerPause&) = delete;
    WorkerPause& operator=(WorkerPause&&) = delete;
    ~WorkerPause() { Release(); }

    void Release() {
        if (flag_)
            flag_->store(0);
        flag_ = nullptr;
    }

private:
    std::atomic<int>* flag_;
};

class MeterSession : public QObject {
    Q_OBJECT
public:
    // `settings` gives the port name and the sampling rate at each START.
    explicit MeterSession(const Settings& settings, QObject* parent = nullptr);
    ~MeterSession() override; // the acquisition ends before the history goes

    // START: opens the port and starts the workers. On success the mirror is dark (every
    // segment off) and `started` has been emitted; on failure nothing changed.
    StartResult Start();
    // STOP: ends both workers and closes the port, then emits `stopped`. The data stay, and a
    // dispatch already armed still runs.
    void Stop();
    bool IsRunning() const;

    // RESET, running or not: disarms the dispatch, pauses the workers, empties the history and
    // the readings, emits `dataReset` (gauge, then graph), and after 10 ms lets the workers go
    // on. MAX/MIN, the pending mark, the current reading and the mirror stay.
    void Reset();

    // The dispatch timer's tick: hands out the current reading.
    void DispatchReading();
    // The dispatch of one reading, in this order: the graph's page count (`runCounted`),
    // MAX/MIN (`maxMinUpdated`), the record of the reading (`readingRecorded`: the table row
    // first, then the journal and whoever else keeps records), the graph and the gauge
    // (`readingDispatched`); then the pending mark is cleared and the timer disarmed.
    void DispatchReading(const Reading& reading);

    // Rows read back from a journal. They go into the table in file order, ahead of any reading
    // dispatched since BeginLoad. At EndLoad, when no reading was dispatched meanwhile, the
    // history takes the last kCapacity of them and MAX/MIN those of the last run, as though they
    // had just been dispatched: `maxMinUpdated`, then `readingsLoaded` with the last one. RESET
    // ends a load (the rows still to come are not wanted).
    // largestIndex: the largest Index the file is known to hold (its tail's), so that readings
    // dispatched during the load take Indices after it. A loaded row whose Index a reading
    // dispatched during the load already has is left out; EndLoad says how many were.
    void BeginLoad(std::int64_t largestIndex = -1);
    void AddLoadedRows(const std::vector<ReadingsModel::LoadedRow>& rows);
    std::int64_t EndLoad();
    bool Loading() const { return loading_; }

    // For the exports: the workers idle until the guard goes.
    WorkerPause PauseWorkers();
    bool Paused() const;

    ReadingHistory& History() { return *history_; }
    const ReadingHistory& History() const { return *history_; }
    Statistics& Stats() { return stats_; }
    const Statistics& Stats() const { return stats_; }
    // One row per dispatched reading, until RESET; the readings table shows it, the exports
    // read it.
    ReadingsModel& Readings() { return *readings_; }
    const ReadingsModel& Readings() const { return *readings_; }
    // The meter display as last mirrored (all lit until the first START).
    const Frame& MirroredFrame() const { return mirrored_; }
    bool DispatchArmed() const;

signals:
    void started();
    void stopped();
    // The segment pictures to switch after an accepted frame, in frame order.
    void frameMirrored(const std::vector<zelvox::SegmentChange>& changes);
    // First dispatch step: the history's run grew by one reading, or (newRun) began again with
    // another function; the graph counts its pages.
    void runCounted(bool newRun);
    // The MAX/MIN texts that changed.
    void maxMinUpdated(const zelvox::MaxMinTexts& texts);
    // The dispatched reading as one record, handed to every observer in the order connected:
    // the readings model (connected first, by the session itself), then the journal and the
    // other record keepers.
    void readingRecorded(const zelvox::DispatchedReading& record);
    // After the record: the graph's and the gauge's turn, in the order connected.
    void readingDispatched(const zelvox::Reading& reading);
    // RESET, after the history and the readings are empty: the gauge's and the graph's turn.
    void dataReset();
    // A load has filled the history: the graph's and the gauge's turn, with its last reading.
    void readingsLoaded(const zelvox::Reading& last);
    // A reading was not recorded: the table holds the largest Index a row can keep. Once until
    // RESET.
    void tableFull();
    // What the user must hear about the running link: no data for a while, a port that went
    // away and came back. A notice is withdrawn when it stops being true (data came, STOP).
    void linkNotice(const QString& text);
    void linkNoticeWithdrawn(const QString& text);

private:
    void MirrorFrame(const Frame& frame);
    void OnLinkChanged(LinkEvent event, int error);
    void WithdrawLinkNotice(QString& text);
    void ArmDispatchTimer();

    const Settings& settings_;
    // Declared before the acquisition, so that it outlives the workers that write it.
    std::unique_ptr<ReadingHistory> history_;
    Statistics stats_;
    ReadingsModel* readings_ = nullptr; // child object
    QTimer* dispatchTimer_ = nullptr;   // child object
    int run_ = 1;                       // the run of the table: one more at each RESET
    bool fullSaid_ = false;             // tableFull was emitted since the last RESET
    QString runPort_;                   // the port of the running acquisition
    QString silenceNotice_;             // the link notices standing, empty when none
    QString lostNotice_;
    Frame mirrored_{};
    std::vector<SegmentChange> changes_; // reused for every frame
    std::unique_ptr<Acquisition> acquisition_;

    // A load in progress: where its next rows go in the table, and the newest rows so far (a
    // ring of at most the history's capacity).
    bool loading_ = false;
    int loadPosition_ = 0;
    int dispatchedDuringLoad_ = 0;
    std::int64_t firstIndexDuringLoad_ = 0; // the first Index handed out during the load
    std::int64_t loadedLeftOut_ = 0;        // loaded rows whose Index was taken already
    std::vector<ReadingsModel::LoadedRow> loadedTail_;
    std::size_t loadedTailNext_ = 0;
};

} // namespace zelvox
