#include "journal/RecordKeeper.h"

#include "journal/Journal.h"
#include "publish/Publisher.h"
#include "record/RowCodec.h"
#include "runview/RunIndex.h"

namespace zelvox {

RecordKeeper::RecordKeeper(QObject* parent) : QObject(parent) {}

RecordKeeper::~RecordKeeper() = default;

void RecordKeeper::KeepTable(Consumer table) {
    table_ = std::move(table);
}

void RecordKeeper::KeepRunIndex(std::shared_ptr<RunIndex> index, std::function<void()> grew) {
    runIndex_ = std::move(index);
    runGrew_ = std::move(grew);
}

void RecordKeeper::KeepJournal(Journal* journal) {
    journal_ = journal;
    if (!journal)
        return;
    // Said at once, on this thread; a fault the journal's sync thread found comes with the next
    // record. A new file that fails again while it is being tried is not said again: the
    // publisher's state says it.
    connect(journal, &Journal::turnedOff, this, [this](const QString& why) {
        if (!journalRetrying_)
            Say(QStringLiteral("journal off: %1").arg(why));
        if (publisher_)
            publisher_->JournalState(JournalOffReason(why).toStdString());
    });
    connect(journal, &QObject::destroyed, this, [this] { journal_ = nullptr; });
}

void RecordKeeper::KeepPublisher(Publisher* publisher) {
    publisher_ = publisher;
}

void RecordKeeper::KeepRules(Consumer rules) {
    rules_ = std::move(rules);
}

void RecordKeeper::OnNotice(std::function<void(const QString&)> notice) {
    notice_ = std::move(notice);
}

void RecordKeeper::Keep(const DispatchedReading& record) {
    // 1. The table row: the reading as the user sees it, whose Index every other record carries.
    if (table_)
        table_(record);
    // 2. The live Run View's index of the whole run.
    if (runIndex_) {
        runIndex_->Append(record.at.EpochMs(), static_cast<int>(record.at.utcOffset.count()), record.reading,
                          record.index, record.run);
        if (runGrew_)
            runGrew_();
    }
    // 3. The journal: the durable copy, which the publisher sends from.
    KeepInJournal(record);
    // 4. The publisher: told which file grew, or handed the row that no journal took.
    Publish(record);
    // 5. The alarm rules: the row that carries what they found.
    if (rules_)
        rules_(record);
}

RunEvent RunEventOf(const EventRow& row) {
    RunEvent e;
    e.ms = row.at.EpochMs();
    e.utcOffsetSeconds = static_cast<int>(row.at.utcOffset.count());
    e.index = row.index;
    e.kind = row.note ? RunEvent::Kind::kNote : row.firing ? RunEvent::Kind::kFiring : RunEvent::Kind::kOk;
    e.text = row.rule;
    e.value = row.value;
    e.unit = row.unit;
    e.lengthMs = NoteLengthMs(row);
    return e;
}

void RecordKeeper::KeepEvent(const EventRow& row) {
    KeepLoadedEvents({row});
}

void RecordKeeper::KeepLoadedEvents(const std::vector<EventRow>& rows) {
    if (!runIndex_ || rows.empty())
        return;
    for (const EventRow& row : rows)
        runIndex_->Events().Add(RunEventOf(row));
    if (runGrew_)
        runGrew_();
}

void RecordKeeper::KeepLoaded(const std::vector<JournalRow>& rows, std::int64_t run) {
    if (!runIndex_ || rows.empty())
        return;
    for (const JournalRow& r : rows)
        runIndex_->Append(r.at.EpochMs(), static_cast<int>(r.at.utcOffset.count()), r.reading,
                          static_cast<std::int64_t>(r.index), run);
    if (runGrew_)
        runGrew_();
}

void RecordKeeper::KeepInJournal(const DispatchedReading& record) {
    if (!journal_)
        return;
    // While publishing, a journal that went off (a full disk, its file removed) is tried again:
    // the next record opens a new file. The rows already written are still sent from the old one.
    const auto now = std::chrono::steady_clock::now();
    if (journal_->IsOff() && publisher_ && now >= journalRetryAt_) {
        journalRetryAt_ = now + kJournalRetry;
        journalRetrying_ = true;
        journal_->Resume();
        journal_->Append(record);
        journalRetrying_ = false;
        if (!journal_->IsOff()) {
            publisher_->JournalState({});
            Say(QStringLiteral("journal: going on in %1").arg(journal_->CurrentFile()));
        }
        return;
    }
    journal_->Append(record);
}

void RecordKeeper::Publish(const DispatchedReading& record) {
    if (!publisher_)
        return;
    if (!journal_ || journal_->IsOff()) {
        // In no journal: sent from memory, after what the journals hold.
        if (!publisher_->Held(record) && !heldFullSaid_) {
            heldFullSaid_ = true;
            Say(QStringLiteral("%1 readings held in memory: later ones are lost until the journal is back")
                    .arg(Publisher::kHeldRows));
        }
        return;
    }
    heldFullSaid_ = false;
    const QString file = journal_->CurrentFile();
    if (!file.isEmpty())
        publisher_->Appended(file.toStdString());
}

void RecordKeeper::Say(const QString& text) {
    if (notice_)
        notice_(text);
}

} // namespace zelvox
