#include "runview/RunEvents.h"

#include "runview/RunIndex.h"

#include <algorithm>

namespace zelvox {

bool RunEvents::Add(RunEvent e) {
    const auto later = std::upper_bound(events_.begin(), events_.end(), e.ms,
                                        [](std::int64_t ms, const RunEvent& x) { return ms < x.ms; });
    // A broker's retained state comes again after each reconnect; a file read twice too.
    for (auto it = later; it != events_.begin() && (it - 1)->ms == e.ms; --it)
        if ((it - 1)->kind == e.kind && (it - 1)->text == e.text)
            return false;
    if (events_.size() >= kMaxEvents) {
        ++dropped_;
        return false;
    }
    ++generation_;
    longestNote_ = std::max(longestNote_, e.kind == RunEvent::Kind::kNote ? e.lengthMs : 0);
    const bool last = later == events_.end();
    const std::size_t at = static_cast<std::size_t>(later - events_.begin());
    events_.insert(later, std::move(e));
    if (last)
        Place(at); // the usual case: constant work
    else
        Rebuild();
    return true;
}

void RunEvents::Clear() {
    events_.clear();
    spans_.clear();
    open_.clear();
    longestNote_ = 0;
    ++generation_;
}

void RunEvents::Place(std::size_t at) {
    const RunEvent& e = events_[at];
    if (e.kind == RunEvent::Kind::kNote)
        return;
    auto open = std::find_if(open_.begin(), open_.end(), [&](const auto& o) { return o.first == e.text; });
    if (e.kind == RunEvent::Kind::kFiring) {
        if (open == open_.end()) {
            open_.emplace_back(e.text, spans_.size());
            spans_.push_back({e.ms, FiringSpan::kOpen, at});
        }
    } else if (open != open_.end()) {
        spans_[open->second].toMs = e.ms;
        open_.erase(open);
    }
}

void RunEvents::Rebuild() {
    spans_.clear();
    open_.clear();
    for (std::size_t i = 0; i < events_.size(); ++i)
        Place(i);
}

std::size_t RunEvents::LowerBound(std::int64_t ms) const {
    return static_cast<std::size_t>(
        std::lower_bound(events_.begin(), events_.end(), ms,
                         [](const RunEvent& x, std::int64_t v) { return x.ms < v; }) -
        events_.begin());
}

std::int64_t RunEvents::SpanEnd(const FiringSpan& s, const RunIndex& index) {
    if (s.toMs != FiringSpan::kOpen)
        return s.toMs;
    return index.Size() > 0 ? std::max(s.fromMs, index.Time(index.Size() - 1)) : s.fromMs;
}

int RunEvents::SpanLane(const FiringSpan& s, const RunIndex& index) {
    if (index.Size() == 0)
        return -1;
    return index.LaneOf(std::min(index.LowerBound(s.fromMs), index.Size() - 1));
}

std::int64_t RunEvents::OutsideMs(const RunIndex& index, int lane, std::int64_t fromMs,
                                  std::int64_t toMs) const {
    // Spans are in order of their start: their union is summed in one pass.
    std::int64_t total = 0, coveredTo = fromMs;
    for (const FiringSpan& s : spans_) {
        if (s.fromMs > toMs)
            break;
        if (SpanLane(s, index) != lane)
            continue;
        const std::int64_t begin = std::max(s.fromMs, coveredTo);
        const std::int64_t end = std::min(SpanEnd(s, index), toMs);
        if (end > begin) {
            total += end - begin;
            coveredTo = end;
        }
    }
    return total;
}

} // namespace zelvox
