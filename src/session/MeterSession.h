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
#include "link/WorkerPause.h"
#include "record/ReadingRecord.h"
#include "session/LoadMerge.h"
#include "session/ReadingsModel.h"

#include <QObject>
#include <atomic>
#include <memory>
#include <vector>

class QTimer;

namespace zelvox {

class Acquisition;
class ReadingsModel;
class RecordKeeper;
class AlarmKeeper;
struct Settings;

class MeterSession : public QObject {
    Q_OBJECT
public:
    // `settings` gives the port name and the sampling rate at each START.
    explicit MeterSession(const Settings& settings, QObject* parent = nullptr);
    ~MeterSession() override; // the acquisition ends before the history goes

    // START: opens the port and starts the workers. On success the mirror is dark (every
    // segment off) and `started` has been emitted; on failure nothing changed. Refused while
    // running, whatever the port's state (between two tries to reopen an unplugged one too).
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
    // MAX/MIN (`maxMinUpdated`), the record of the reading (the record keeper: the table row
    // first, then the Run View, the journal and the others, in its order), the graph and the
    // gauge (`readingDispatched`); then the pending mark is cleared and the timer disarmed.
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
    bool Loading() const { return merge_.Active(); }

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
    // Takes every dispatched reading's record (its first consumer is the readings model);
    // the programs give it the journal, the publisher and the others.
    RecordKeeper& Keeper() { return *keeper_; }
    // The alarm rules, watched from each START to STOP on the reader's side (the keeper's
    // Kept follows every record); set once, before the first START. Null: none.
    void WatchAlarms(std::unique_ptr<AlarmKeeper> alarms);
    AlarmKeeper* Alarms() const { return alarms_.get(); }
    // The port of the running (or last) acquisition.
    const QString& RunPort() const { return runPort_; }

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
    // After the record: the graph's and the gauge's turn, in the order connected.
    void readingDispatched(const zelvox::Reading& reading);
    // RESET, after the history and the readings are empty: the gauge's and the graph's turn.
    void dataReset();
    // A load has filled the history: the graph's and the gauge's turn, with its last reading.
    void readingsLoaded(const zelvox::Reading& last);
    // A reading was not recorded: the table holds the largest Index a row can keep. Once until
    // RESET.
    void tableFull();
    // What the running link says about itself (no data for a while, a port that went away and
    // came back), in order with the frames; `error` is the failed read's errno for Lost.
    void linkChanged(zelvox::LinkEvent event, int error);

private:
    void MirrorFrame(const Frame& frame);
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
    Frame mirrored_{};
    std::vector<SegmentChange> changes_; // reused for every frame
    // Declared before the acquisition: its reader calls the alarms until it is joined.
    std::unique_ptr<AlarmKeeper> alarms_;
    std::unique_ptr<Acquisition> acquisition_;

    RecordKeeper* keeper_ = nullptr; // child object
    LoadMerge merge_;
};

} // namespace zelvox
