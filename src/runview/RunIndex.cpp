#include "runview/RunIndex.h"

#include <algorithm>

namespace zelvox {

void OffsetTable::Note(std::int64_t ms, int offsetSeconds) {
    if (changes_.empty() || changes_.back().offsetSeconds != offsetSeconds)
        changes_.push_back({ms, offsetSeconds});
}

int OffsetTable::At(std::int64_t ms) const {
    if (changes_.empty())
        return 0;
    auto it = std::upper_bound(changes_.begin(), changes_.end(), ms,
                               [](std::int64_t t, const Change& c) { return t < c.fromMs; });
    return it == changes_.begin() ? changes_.front().offsetSeconds : std::prev(it)->offsetSeconds;
}

void RunIndex::Append(std::int64_t ms, int utcOffsetSeconds, const Reading& r, std::int64_t index,
                      std::int64_t run) {
    const std::int64_t at = store_.Size();
    bool starts = segments_.empty();
    if (!starts) {
        RunSegment& s = segments_.back();
        const std::int64_t lastMs = store_.Time(at - 1);
        if (ms < lastMs) {
            ++clockSetBack_;
            ms = lastMs;
        }
        const std::int64_t step = ms - lastMs;
        const bool gap = s.end - s.begin == 1 ? step > kLongestPeriodMs
                                              : step > std::max(kGapFloorMs, kGapPeriods * s.shortestStep);
        starts = gap || r.functionCode != s.function || run != s.run || index != lastIndex_ + 1;
        if (!starts)
            s.shortestStep = s.end - s.begin == 1 ? step : std::min(s.shortestStep, step);
    }
    offsets_.Note(ms, utcOffsetSeconds);
    if (starts) {
        RunSegment s;
        s.begin = s.end = at;
        s.firstIndex = index;
        s.run = run;
        s.function = r.functionCode;
        auto lane = std::find_if(lanes_.begin(), lanes_.end(),
                                 [&](const RunLane& l) { return l.function == r.functionCode; });
        if (lane == lanes_.end()) {
            lanes_.push_back(RunLane{r.functionCode, {}});
            lane = std::prev(lanes_.end());
        }
        s.lane = static_cast<int>(lane - lanes_.begin());
        lane->segments.push_back(static_cast<std::int32_t>(segments_.size()));
        segments_.push_back(s);
    }
    store_.Append(ms, r.value, r.pointPosition, starts);
    ++segments_.back().end;
    lastIndex_ = index;
}

const RunSegment& RunIndex::SegmentOf(std::int64_t i) const {
    auto it = std::upper_bound(segments_.begin(), segments_.end(), i,
                               [](std::int64_t v, const RunSegment& s) { return v < s.begin; });
    return *std::prev(it);
}

std::int64_t RunIndex::IndexOf(std::int64_t i) const {
    const RunSegment& s = SegmentOf(i);
    return s.firstIndex + (i - s.begin);
}

std::int64_t RunIndex::LowerBound(std::int64_t ms, std::int64_t begin, std::int64_t end) const {
    while (begin < end) {
        const std::int64_t mid = begin + (end - begin) / 2;
        if (store_.Time(mid) < ms)
            begin = mid + 1;
        else
            end = mid;
    }
    return begin;
}

std::size_t RunIndex::MemoryBytes() const {
    std::size_t bytes = store_.MemoryBytes() + segments_.capacity() * sizeof(RunSegment) +
                        offsets_.Changes().capacity() * sizeof(OffsetTable::Change);
    for (const RunLane& l : lanes_)
        bytes += sizeof(RunLane) + l.segments.capacity() * sizeof(std::int32_t);
    return bytes;
}

} // namespace zelvox
