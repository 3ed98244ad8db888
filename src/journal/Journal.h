// The readings journal: every dispatched reading (one table row) goes into a CSV file as it is
// dispatched, so that a crash, a power cut or a closed window does not cost the run.
//
// One file per run of the table, named by the moment of its first row (2026-12-08T10-42-06.csv),
// in the journal folder. Each row is one write() with O_APPEND on the calling (UI) thread: that
// only copies into the page cache, so a process killed at any moment leaves every row it had
// dispatched. A sync thread makes the data durable with fdatasync at most once a second, at
// STOP (Sync) and at the end (Close); the UI thread never waits for it.
//
// The folder's names, markers, sidecars and pruning follow record/JournalFolder.h: while a file
// is open its ".open" marker lies beside it, and a clean end of the run removes it; a run found
// interrupted at start-up is named then, and at every start-up after, until the user loads it.
//
// Faults (folder not writable, disk full, file too large, file removed, I/O errors) turn the
// journal off for the rest of the session with one turnedOff(why) signal; the caller's readings
// are never affected.
#pragma once

#include "decode/Reading.h"
#include "record/JournalFolder.h"
#include "record/RowCodec.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zelvox {

// $XDG_STATE_HOME/zelvox/recordings, or ~/.local/state/zelvox/recordings without it; empty
// when neither is set (no journal then: never one under /).
QString DefaultJournalDir();

// The short reason for a turnedOff why: "disk full" for a full disk or quota, else why itself.
QString JournalOffReason(const QString& why);

struct JournalStartup {
    bool ok = false;
    QString error;                           // why the folder cannot be used (ok false)
    std::vector<InterruptedRun> interrupted; // runs that did not end cleanly, newest first
    PruneResult pruned;                      // old journals removed

    // The start-up's notices, one a line: the interrupted runs named and what pruning removed
    // (why the journal is off comes by turnedOff).
    QStringList Notices() const;
};

class Journal : public QObject {
    Q_OBJECT
public:
    explicit Journal(const QString& dir, QObject* parent = nullptr);
    ~Journal() override; // Close()

    // Makes the folder, names interrupted runs (a read-only folder too) and prunes old journals
    // by the rules. Each journal made after it is recorded for rules.publishingTo, when that is
    // set (record/JournalFolder.h). Call once, before the first Append. When the folder cannot
    // be written the journal is off at once (and turnedOff is sent).
    JournalStartup Start(const PruneRules& rules = {});

    // One dispatched reading (a table row). The first row of a run opens a new file. Never
    // waits for the disk.
    void Append(const DispatchedReading& dispatched);
    // The table was emptied (RESET): the current file ends cleanly, the next row opens a new one.
    void NewRun();
    // Acquisition stopped: the data go to disk now, on the sync thread.
    void Sync();
    // The end: syncs and ends the current file cleanly, waiting for the disk. Later calls do
    // nothing; Append after Close is ignored.
    void Close();

    // After turnedOff: tries again, the next row opening a new file (a disk with room again);
    // turnedOff comes again when that fails too.
    void Resume();
    bool IsOff() const { return off_; }

    QString Dir() const { return dir_; }
    // The file of the current run; empty before its first row and after NewRun or Close.
    QString CurrentFile() const;

signals:
    // Sent once, on this object's thread, when a fault has turned the journal off.
    void turnedOff(const QString& why);
    // With rules.splitBytes set, the rules are applied again every rules.pruneEvery while the
    // journal runs; what that removed is sent from the sync thread (connect it directly).
    void prunedWhileRunning(const QString& notice);

private slots:
    // On this object's thread: turns the journal off for the fault the sync thread found.
    void TakeSyncFault();

private:
    struct File;

    bool OpenFile(const WallTime& at, QString* why);
    void TurnOff(const QString& why);
    void RetireCurrent();
    void SyncThreadBody();
    // On the sync thread: true when the file is still whole; *why says otherwise.
    static bool SyncFile(File& file, QString* why);
    static void EndFile(File& file);

    QString dir_;
    std::string publishingTo_; // the broker each new journal is recorded for, or empty
    std::uint64_t splitBytes_ = 0;
    bool off_ = false;
    bool closed_ = false;
    std::shared_ptr<File> current_;

    // Shared with the sync thread.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::shared_ptr<File> syncFile_;             // the open run's file, synced when dirty
    std::vector<std::shared_ptr<File>> retired_; // ended runs, to sync and mark clean
    bool syncNow_ = false;
    QString syncFault_; // a fault the sync thread found, for the next Append
    PruneRules rules_;  // applied again by the sync thread while running, with splitBytes
    bool quit_ = false;
    std::thread syncThread_;
};

} // namespace zelvox
