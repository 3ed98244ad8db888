// The record keeper: the one place that takes each dispatched reading's record and hands it to
// whoever keeps records, in one written order (Keep): the table (the window's readings model),
// the live Run View index (the window), the journal, the publisher and the alarm rules. Both
// programs build one; neither wires its consumers to each other.
//
// It also owns what lies between the journal and the publisher: a journal that turned off
// (a full disk) is tried again with the next record and then every kJournalRetry while it
// fails, the rows no journal took meanwhile go to the publisher's memory queue, and what the
// user must hear of it is said through the notice callback, in the same words in both programs.
#pragma once

#include "record/ReadingRecord.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace zelvox {

class Journal;
class Publisher;
class RunIndex;
struct EventRow;
struct JournalRow;
struct RunEvent;

// An events file's row as the Run View keeps it.
RunEvent RunEventOf(const EventRow& row);

class RecordKeeper : public QObject {
    Q_OBJECT
public:
    // A journal that turned off is tried again this often while publishing.
    static constexpr std::chrono::seconds kJournalRetry{10};

    using Consumer = std::function<void(const DispatchedReading&)>;

    explicit RecordKeeper(QObject* parent = nullptr);
    ~RecordKeeper() override;

    // The consumers, each optional; set before the first record. The keeper owns none of them.
    void KeepTable(Consumer table);
    void KeepRunIndex(std::shared_ptr<RunIndex> index, std::function<void()> grew);
    void KeepJournal(Journal* journal);
    void KeepPublisher(Publisher* publisher);
    void KeepRules(Consumer rules);
    // Where the keeper's notices go (status pane 3, standard error); the texts start in lower
    // case: "journal off: ...", "journal: going on in ...".
    void OnNotice(std::function<void(const QString&)> notice);

    // One dispatched reading, handed on in the order written in its body.
    void Keep(const DispatchedReading& record);
    // Rows read back from a journal: they reach the live Run View (the table takes them through
    // the session's load); no journal or broker gets them again.
    void KeepLoaded(const std::vector<JournalRow>& rows, std::int64_t run);

    // Alarm events and notes: as they happen (the window's alarm rules, a note written in the Run
    // View), or read back beside a loaded journal. They reach the live Run View.
    void KeepEvent(const EventRow& row);
    void KeepLoadedEvents(const std::vector<EventRow>& rows);

    RunIndex* LiveRun() const { return runIndex_.get(); }

private:
    void KeepInJournal(const DispatchedReading& record);
    void Publish(const DispatchedReading& record);
    void Say(const QString& text);

    Consumer table_;
    std::shared_ptr<RunIndex> runIndex_;
    std::function<void()> runGrew_;
    Journal* journal_ = nullptr;
    Publisher* publisher_ = nullptr;
    Consumer rules_;
    std::function<void(const QString&)> notice_;

    std::chrono::steady_clock::time_point journalRetryAt_{};
    bool journalRetrying_ = false;
    bool heldFullSaid_ = false;
};

} // namespace zelvox
