#include "journal/AlarmKeeper.h"

#include "journal/Journal.h"
#include "publish/Discovery.h"
#include "publish/Publisher.h"

#include <algorithm>
#include <cstring>
#include <sys/eventfd.h>
#include <unistd.h>

namespace zelvox {

AlarmKeeper::AlarmKeeper(std::vector<AlarmRule> rules, std::string port)
    : port_(std::move(port)), engine_(std::move(rules), [this](const AlarmEvent& e) { Queue(e); }),
      wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    for (const AlarmRule& rule : engine_.Rules())
        states_.push_back({rule, AlarmState::Ok});
    seenStates_.assign(engine_.Rules().size(), AlarmState::Ok);
}

AlarmKeeper::~AlarmKeeper() {
    Finish(std::chrono::milliseconds(0));
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void AlarmKeeper::OnSeen(Seen seen) {
    seen_ = std::move(seen);
}

void AlarmKeeper::OnNotice(Notice notice) {
    notice_ = std::move(notice);
}

void AlarmKeeper::RunCommand(const std::string& command) {
    if (command.empty())
        return;
    // Its failures are said on the owner's thread, with the events.
    command_ = std::make_unique<AlarmCommand>(command, port_, [this](const std::string& text) {
        std::lock_guard lock(mutex_);
        failures_.push_back(text);
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    });
    command_->Start();
}

void AlarmKeeper::KeepJournal(Journal* journal) {
    journal_ = journal;
}

void AlarmKeeper::KeepPublisher(Publisher* publisher, const PublisherOptions& options) {
    publisher_ = publisher;
    publishing_ = std::make_unique<PublisherOptions>(options);
    for (const RuleState& r : Rules())
        RetainOk(r.rule);
}

void AlarmKeeper::RetainOk(const AlarmRule& rule) {
    if (!publisher_)
        return;
    publisher_->Retain(publishing_->target.AlarmTopic(rule.name),
                       AlarmMessage(false, WallTimeNow(), nullptr, rule.text));
    if (publishing_->discovery)
        publisher_->Retain(AlarmDiscoveryTopic(publishing_->clientId, rule.name),
                           AlarmDiscoveryConfig(publishing_->target, publishing_->clientId, rule.name));
}

void AlarmKeeper::Begin(std::int64_t firstIndex) {
    nextIndex_.store(firstIndex);
    if (changed_.load())
        Changes();
    engine_.Begin(WallTimeNow());
    seenStates_.assign(engine_.Rules().size(), AlarmState::Ok);
    Snapshot();
    watching_ = true;
}

void AlarmKeeper::End() {
    if (!watching_)
        return;
    watching_ = false;
    if (changed_.load())
        Changes();
    engine_.End(WallTimeNow(), nextIndex_.load());
    Snapshot();
    Deliver();
    if (unsynced_) {
        int error = 0;
        events_.Sync(&error);
        unsynced_ = false;
    }
}

void AlarmKeeper::Finish(std::chrono::milliseconds grace) {
    if (command_)
        command_->Stop(grace);
}

std::vector<AlarmKeeper::RuleState> AlarmKeeper::Rules() const {
    std::lock_guard lock(mutex_);
    // With what the reader has not applied yet (it may not be running).
    std::vector<RuleState> rules;
    for (const RuleState& r : states_)
        if (std::find(removes_.begin(), removes_.end(), r.rule.name) == removes_.end())
            rules.push_back(r);
    for (const AlarmRule& rule : adds_)
        rules.push_back({rule, AlarmState::Ok});
    return rules;
}

void AlarmKeeper::Add(AlarmRule rule) {
    RetainOk(rule);
    std::lock_guard lock(mutex_);
    adds_.push_back(std::move(rule));
    changed_.store(true);
}

void AlarmKeeper::Remove(const std::string& name) {
    std::lock_guard lock(mutex_);
    removes_.push_back(name);
    changed_.store(true);
}

// Reader thread (or the owner's, while no reader runs).
void AlarmKeeper::Changes() {
    std::vector<AlarmRule> adds;
    std::vector<std::string> removes;
    {
        std::lock_guard lock(mutex_);
        adds.swap(adds_);
        removes.swap(removes_);
        changed_.store(false);
    }
    const WallTime now = WallTimeNow();
    for (const std::string& name : removes) {
        const auto& rules = engine_.Rules();
        const auto it =
            std::find_if(rules.begin(), rules.end(), [&](const AlarmRule& r) { return r.name == name; });
        if (it != rules.end()) {
            const auto i = static_cast<std::size_t>(it - rules.begin());
            engine_.Remove(i, now, nextIndex_.load());
            seenStates_.erase(seenStates_.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    for (AlarmRule& rule : adds) {
        engine_.Add(std::move(rule), now);
        seenStates_.push_back(AlarmState::Ok);
    }
    std::lock_guard lock(mutex_);
    states_.clear();
    for (std::size_t i = 0; i < engine_.Rules().size(); ++i)
        states_.push_back({engine_.Rules()[i], engine_.State(i)});
}

// Reader thread: a few compares a frame; the lock only when a state changed.
void AlarmKeeper::Snapshot() {
    const std::size_t n = seenStates_.size();
    bool same = true;
    for (std::size_t i = 0; i < n && same; ++i)
        same = engine_.State(i) == seenStates_[i];
    if (same)
        return;
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < n; ++i) {
        seenStates_[i] = engine_.State(i);
        if (i < states_.size())
            states_[i].state = seenStates_[i];
    }
}

void AlarmKeeper::Frame(const Reading& reading) {
    if (changed_.load(std::memory_order_relaxed))
        Changes();
    engine_.Frame(reading, WallTimeNow(), nextIndex_.load(std::memory_order_relaxed));
    Snapshot();
}

void AlarmKeeper::Unplugged() {
    engine_.Unplugged(WallTimeNow(), nextIndex_.load());
    Snapshot();
}

void AlarmKeeper::Back() {
    engine_.Back(WallTimeNow(), nextIndex_.load());
    Snapshot();
}

std::chrono::milliseconds AlarmKeeper::Poll() {
    if (changed_.load(std::memory_order_relaxed))
        Changes();
    WallTime now = WallTimeNow();
    if (engine_.NextDeadline() <= now.instant) {
        engine_.Check(now, nextIndex_.load());
        Snapshot();
    }
    if (engine_.NextDeadline() == AlarmEngine::kNoDeadline)
        return std::chrono::hours(1);
    return std::max(std::chrono::milliseconds(1), engine_.NextDeadline() - WallTimeNow().instant);
}

// The engine's sink, on the reader thread: the event and its rule as they are now.
void AlarmKeeper::Queue(const AlarmEvent& e) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        wake = found_.empty() && failures_.empty();
        found_.push_back({engine_.Rules()[e.rule], e});
    }
    if (wake) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
}

void AlarmKeeper::Deliver() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &count, sizeof count);
    std::vector<Found> found;
    std::vector<std::string> failures;
    {
        std::lock_guard lock(mutex_);
        found.swap(found_);
        failures.swap(failures_);
    }
    for (const Found& f : found)
        Hand(f);
    for (const std::string& text : failures)
        Say(text);
}

// One event to every destination: the command first (it is the one that must start soonest),
// then the broker, the program's notice and the events file.
void AlarmKeeper::Hand(const Found& f) {
    if (command_)
        command_->Run(f.rule, f.event);
    if (publisher_)
        publisher_->Retain(publishing_->target.AlarmTopic(f.rule.name),
                           AlarmMessage(f.event.firing, f.event.at,
                                        f.event.hasReading ? &f.event.reading : nullptr, f.rule.text));
    if (seen_)
        seen_(f.rule, f.event);
    if (journal_) {
        unwritten_.push_back(AlarmEventRow(f.rule, f.event));
        WriteRows();
    }
}

// The rows go beside the journal's current file; before its first row opens one they wait for
// the record that does.
void AlarmKeeper::WriteRows() {
    if (!journal_ || unwritten_.empty())
        return;
    const std::string path = journal_->CurrentFile().toStdString();
    if (path.empty())
        return;
    for (const EventRow& row : unwritten_) {
        int error = 0;
        if (!events_.Append(path, row, &error)) {
            if (!eventsFaultSaid_)
                Say("alarm events not written beside " + path + ": " + std::strerror(error));
            eventsFaultSaid_ = true;
        } else {
            eventsFaultSaid_ = false;
            unsynced_ = true;
        }
    }
    unwritten_.clear();
}

void AlarmKeeper::Kept(const DispatchedReading& record) {
    nextIndex_.store(record.index + 1);
    WriteRows();
    // Events are rare: what one wrote is made durable with the next row.
    if (unsynced_) {
        int error = 0;
        events_.Sync(&error);
        unsynced_ = false;
    }
}

void AlarmKeeper::Say(const std::string& text) {
    if (notice_)
        notice_(text);
}

} // namespace zelvox
