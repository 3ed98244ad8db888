#include "alarm/AlarmEngine.h"

#include "decode/Format.h"

#include <limits>

namespace zelvox {

std::string AlarmValueText(const AlarmEvent& e) {
    if (!e.hasReading)
        return {};
    ValueChars buf;
    return std::string(FormatTableValueChars(e.reading.value, e.reading.pointPosition, buf));
}

std::string AlarmUnitText(const AlarmEvent& e) {
    if (!e.hasReading || e.reading.functionCode >= kFunctionCount)
        return {};
    return ToUtf8(unitLabels[e.reading.functionCode]);
}

namespace {

bool SameReading(const Reading& a, const Reading& b) {
    return a.value == b.value && a.pointPosition == b.pointPosition && a.functionCode == b.functionCode;
}

// Whether a level rule's condition holds for r: the raising test while ok or pending, the
// clear level's test while firing.
bool LevelHolds(const AlarmRule& rule, const Reading& r, bool firing) {
    const AlarmRule::FunctionLimits& l = rule.limits[r.functionCode < kFunctionCount ? r.functionCode : 0];
    if (!l.applies)
        return false;
    // An overload is beyond any limit, however far out.
    const double v = !IsOverload(r.value) ? r.value
                     : r.value > 0        ? std::numeric_limits<double>::infinity()
                                          : -std::numeric_limits<double>::infinity();
    switch (rule.condition) {
    case AlarmCondition::Above:
        return firing && rule.hasClear ? v >= l.clearLow : v > l.low;
    case AlarmCondition::Below:
        return firing && rule.hasClear ? v <= l.clearHigh : v < l.high;
    case AlarmCondition::Outside:
        return firing && rule.hasClear ? v < l.clearLow || v > l.clearHigh : v < l.low || v > l.high;
    case AlarmCondition::Overload:
        return IsOverload(r.value);
    default:
        return false;
    }
}

} // namespace

AlarmEngine::AlarmEngine(std::vector<AlarmRule> rules, Sink sink)
    : rules_(std::move(rules)), watches_(rules_.size()), sink_(std::move(sink)) {}

void AlarmEngine::Begin(const WallTime& at) {
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        watches_[i] = Watch{};
        if (rules_[i].condition == AlarmCondition::Silent)
            watches_[i].deadline = at.instant + rules_[i].holdFor;
    }
    hasLast_ = false;
    UpdateNext();
}

void AlarmEngine::Emit(std::size_t i, bool firing, Time t, int utcOffset, bool hasReading,
                       std::int64_t index) {
    watches_[i].state = firing ? AlarmState::Firing : AlarmState::Ok;
    watches_[i].clearing = false;
    if (!sink_)
        return;
    AlarmEvent e;
    e.rule = i;
    e.firing = firing;
    e.at = WallTime{t, std::chrono::seconds(utcOffset)};
    e.hasReading = hasReading;
    e.reading = hasReading ? last_ : Reading{};
    e.index = index;
    sink_(e);
}

void AlarmEngine::UpdateNext() {
    next_ = kNoDeadline;
    for (const Watch& w : watches_)
        if (w.deadline < next_)
            next_ = w.deadline;
}

void AlarmEngine::Due(Time t, int utcOffset, std::int64_t index) {
    // In the order of their deadlines, so that events of several rules come out in time order.
    while (next_ <= t) {
        std::size_t i = 0;
        while (watches_[i].deadline != next_)
            ++i;
        Watch& w = watches_[i];
        w.deadline = kNoDeadline;
        const AlarmCondition c = rules_[i].condition;
        const bool reading = hasLast_ && c != AlarmCondition::Silent && c != AlarmCondition::Unplugged;
        // Pending, silent and unchanged fire; a firing rule that was clearing ends.
        Emit(i, w.state != AlarmState::Firing, next_, utcOffset, reading, index);
        UpdateNext();
    }
}

void AlarmEngine::Observe(std::size_t i, bool holds, const WallTime& at, bool hasReading,
                          std::int64_t index) {
    Watch& w = watches_[i];
    const auto hold = rules_[i].holdFor;
    const int offset = static_cast<int>(at.utcOffset.count());
    switch (w.state) {
    case AlarmState::Ok:
        if (!holds)
            return;
        if (hold.count() == 0) {
            Emit(i, true, at.instant, offset, hasReading, index);
            return;
        }
        w.state = AlarmState::Pending;
        w.deadline = at.instant + hold;
        break;
    case AlarmState::Pending:
        if (holds)
            return;
        w.state = AlarmState::Ok;
        w.deadline = kNoDeadline;
        break;
    case AlarmState::Firing:
        if (holds == !w.clearing)
            return;
        if (holds) {
            w.clearing = false;
            w.deadline = kNoDeadline;
        } else if (hold.count() == 0) {
            Emit(i, false, at.instant, offset, hasReading, index);
            return;
        } else {
            w.clearing = true;
            w.deadline = at.instant + hold;
        }
        break;
    }
    if (w.deadline < next_)
        next_ = w.deadline;
    else
        UpdateNext();
}

void AlarmEngine::Frame(const Reading& r, const WallTime& at, std::int64_t index) {
    Due(at.instant, static_cast<int>(at.utcOffset.count()), index);
    const bool changed = !hasLast_ || !SameReading(r, last_);
    last_ = r;
    hasLast_ = true;
    bool deadlines = false;
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        const AlarmRule& rule = rules_[i];
        Watch& w = watches_[i];
        switch (rule.condition) {
        case AlarmCondition::Silent:
        case AlarmCondition::Unchanged:
            if (rule.condition == AlarmCondition::Unchanged && !changed)
                break;
            if (w.state == AlarmState::Firing)
                Emit(i, false, at.instant, static_cast<int>(at.utcOffset.count()), true, index);
            w.deadline = at.instant + rule.holdFor;
            deadlines = true;
            break;
        case AlarmCondition::Unplugged:
            break;
        default:
            Observe(i, LevelHolds(rule, r, w.state == AlarmState::Firing), at, true, index);
            break;
        }
    }
    if (deadlines)
        UpdateNext();
}

void AlarmEngine::Unplugged(const WallTime& at, std::int64_t index) {
    Due(at.instant, static_cast<int>(at.utcOffset.count()), index);
    for (std::size_t i = 0; i < rules_.size(); ++i)
        if (rules_[i].condition == AlarmCondition::Unplugged)
            Observe(i, true, at, false, index);
}

void AlarmEngine::Back(const WallTime& at, std::int64_t index) {
    Due(at.instant, static_cast<int>(at.utcOffset.count()), index);
    for (std::size_t i = 0; i < rules_.size(); ++i)
        if (rules_[i].condition == AlarmCondition::Unplugged)
            Observe(i, false, at, false, index);
}

void AlarmEngine::Check(const WallTime& now, std::int64_t index) {
    Due(now.instant, static_cast<int>(now.utcOffset.count()), index);
}

void AlarmEngine::End(const WallTime& at, std::int64_t index) {
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        if (watches_[i].state == AlarmState::Firing)
            Emit(i, false, at.instant, static_cast<int>(at.utcOffset.count()), false, index);
        watches_[i] = Watch{};
    }
    UpdateNext();
}

void AlarmEngine::Add(AlarmRule rule, const WallTime& at) {
    Watch w;
    if (rule.condition == AlarmCondition::Silent)
        w.deadline = at.instant + rule.holdFor;
    else if (rule.condition == AlarmCondition::Unchanged && hasLast_)
        w.deadline = at.instant + rule.holdFor;
    rules_.push_back(std::move(rule));
    watches_.push_back(w);
    UpdateNext();
}

void AlarmEngine::Remove(std::size_t i, const WallTime& at, std::int64_t index) {
    if (i >= rules_.size())
        return;
    if (watches_[i].state == AlarmState::Firing)
        Emit(i, false, at.instant, static_cast<int>(at.utcOffset.count()), false, index);
    rules_.erase(rules_.begin() + static_cast<std::ptrdiff_t>(i));
    watches_.erase(watches_.begin() + static_cast<std::ptrdiff_t>(i));
    UpdateNext();
}

} // namespace zelvox
