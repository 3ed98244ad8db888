// The alarm rules of a run, wired the same way in both programs: the engine on the reader's
// side of the record keeper (every accepted frame, the adapter coming and going, its deadlines),
// and each event it finds handed to the owner's thread and from there to every destination:
// the program's own notice (the logger's standard error, the window's status pane), the events
// file beside the current journal, the command of --alarm-exec and the broker's retained
// PREFIX/alarm/NAME.
//
// The reader never waits for the owner: its hot path takes no lock (an event, rare, is queued
// under a short one), and the owner waits on WakeFd() its own way, as it does for the link's.
#pragma once

#include "alarm/AlarmEngine.h"
#include "alarm/AlarmOutputs.h"
#include "link/AcquisitionCore.h"
#include "record/EventsFile.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zelvox {

class Journal;
class Publisher;
struct PublisherOptions;

class AlarmKeeper final : public AcquisitionCore::ReaderTap {
public:
    using Seen = std::function<void(const AlarmRule& rule, const AlarmEvent& e)>;
    using Notice = std::function<void(const std::string& text)>;

    // port names the meter in the command's ZELVOX_PORT.
    AlarmKeeper(std::vector<AlarmRule> rules, std::string port);
    ~AlarmKeeper() override;
    AlarmKeeper(const AlarmKeeper&) = delete;
    AlarmKeeper& operator=(const AlarmKeeper&) = delete;

    // The destinations, each optional; set before Begin. Seen and Notice run on the owner's
    // thread (in Deliver); notices start in lower case ("alarm command: ...").
    void OnSeen(Seen seen);
    void OnNotice(Notice notice);
    void RunCommand(const std::string& command);
    void KeepJournal(Journal* journal);
    // Retains an ok state for every rule now (and with discovery its binary sensor), so that a
    // rule left firing by a crash reads ok until it fires again.
    void KeepPublisher(Publisher* publisher, const PublisherOptions& options);

    // Watching begins, before the reader starts; firstIndex is the Index of the next row.
    void Begin(std::int64_t firstIndex);
    // Owner's thread: readable while events wait (an eventfd); Deliver hands them on.
    int WakeFd() const { return wakeFd_; }
    void Deliver();
    // The record keeper's rules consumer: the row that carries what came before it.
    void Kept(const DispatchedReading& record);
    // A clean end of the watch, once the reader has stopped: every firing rule is said as ok
    // (delivered at once). Begin starts another.
    void End();
    // The program's end: the command has up to grace to run for what is queued. The destructor
    // does it without grace.
    void Finish(std::chrono::milliseconds grace = std::chrono::seconds(2));

    // The rules and their states, and rules added or removed for the rest of the run; any
    // thread (the reader applies changes at its next frame or deadline).
    struct RuleState {
        AlarmRule rule;
        AlarmState state = AlarmState::Ok;
    };
    std::vector<RuleState> Rules() const;
    void Add(AlarmRule rule);
    void Remove(const std::string& name);

    // ReaderTap, on the reader thread.
    void Frame(const Reading& reading) override;
    void Unplugged() override;
    void Back() override;
    std::chrono::milliseconds Poll() override;

private:
    struct Found {
        AlarmRule rule;
        AlarmEvent event;
    };
    void Queue(const AlarmEvent& e);
    void Changes();  // reader: the rules added and removed meanwhile
    void Snapshot(); // reader: the states the owner may read
    void Hand(const Found& f);
    void RetainOk(const AlarmRule& rule);
    void WriteRows();
    void Say(const std::string& text);

    const std::string port_;
    AlarmEngine engine_;
    std::atomic<std::int64_t> nextIndex_{0};
    std::atomic<bool> changed_{false}; // adds or removes wait
    const int wakeFd_;
    bool watching_ = false;

    mutable std::mutex mutex_; // what the reader hands over and takes
    std::vector<Found> found_;
    std::vector<AlarmRule> adds_;
    std::vector<std::string> removes_;
    std::vector<RuleState> states_;
    std::vector<std::string> failures_;  // from the command's worker
    std::vector<AlarmState> seenStates_; // reader: the states last snapshot

    Seen seen_;
    Notice notice_;
    std::unique_ptr<AlarmCommand> command_;
    Journal* journal_ = nullptr;
    Publisher* publisher_ = nullptr;
    std::unique_ptr<PublisherOptions> publishing_; // its target and client id
    EventsFile events_;
    std::vector<EventRow> unwritten_; // rows waiting for the journal's file
    bool unsynced_ = false;
    bool eventsFaultSaid_ = false;
};

} // namespace zelvox
