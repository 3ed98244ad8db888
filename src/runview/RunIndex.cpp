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

RunIndex::RunIndex() {
    laneOfFunction_.fill(-1);
}

RunIndex::~RunIndex() = default;

void RunIndex::Append(std::int64_t ms, int utcOffsetSeconds, const Reading& r, std::int64_t index,
                      std::int64_t run) {
    if (size_ > 0 && ms < lastMs_) {
        setBacks_.push_back({size_, ms});
        ms = lastMs_;
    }
    std::int16_t& laneOf = laneOfFunction_[r.functionCode];
    if (laneOf < 0) {
        laneOf = static_cast<std::int16_t>(lanes_.size());
        lanes_.push_back(std::make_unique<RunLane>());
        lanes_.back()->function = r.functionCode;
    }
    const int lane = laneOf;
    const bool counts = size_ > 0 && index == lastIndex_ + 1 && run == lastRun_;
    const std::int64_t step = ms - lastMs_;
    const bool gap =
        size_ > 0 && (segmentLength_ == 1 ? step > kLongestPeriodMs
                                          : step > std::max(kGapFloorMs, kGapPeriods * shortestStep_));
    if (gap)
        gaps_.push_back(size_);
    const bool joins = counts && lane == lastLane_ && !gap;
    if (joins) {
        shortestStep_ = segmentLength_ == 1 ? step : std::min(shortestStep_, step);
        ++segmentLength_;
    } else {
        segmentLength_ = 1;
        ++segmentCount_;
    }
    if (!counts)
        breaks_.push_back({size_, index, run});
    RunStore& store = lanes_[static_cast<std::size_t>(lane)]->store;
    if (lane != lastLane_) {
        if ((stretchCount_ & ((1 << kStretchBits) - 1)) == 0)
            stretches_.push_back(std::make_unique_for_overwrite<Stretch[]>(std::size_t{1} << kStretchBits));
        stretches_.back()[static_cast<std::size_t>(stretchCount_ & ((1 << kStretchBits) - 1))] =
            Stretch{static_cast<std::uint32_t>(size_), static_cast<std::uint32_t>(store.Size()),
                    static_cast<std::uint8_t>(lane)};
        ++stretchCount_;
    }
    offsets_.Note(ms, utcOffsetSeconds);
    store.Append(ms, r.value, r.pointPosition, !joins);
    ++size_;
    lastLane_ = lane;
    lastIndex_ = index;
    lastRun_ = run;
    lastMs_ = ms;
}

std::int64_t RunIndex::StretchOf(std::int64_t i) const {
    std::int64_t low = 0, high = stretchCount_; // the last stretch whose global is <= i
    while (high - low > 1) {
        const std::int64_t mid = low + (high - low) / 2;
        if (StretchAt(mid).global <= static_cast<std::uint64_t>(i))
            low = mid;
        else
            high = mid;
    }
    return low;
}

RunIndex::Place RunIndex::Locate(std::int64_t i) const {
    const Stretch& s = StretchAt(StretchOf(i));
    return Place{s.lane, std::int64_t{s.laneBegin} + (i - std::int64_t{s.global})};
}

std::int64_t RunIndex::Global(int lane, std::int64_t at) const {
    // Instants never go back: from the first reading at the lane reading's instant, the
    // stretches on until the lane's own that holds it (the next one or two, unless many
    // readings share that instant).
    const std::int64_t ms = lanes_[static_cast<std::size_t>(lane)]->store.Time(at);
    for (std::int64_t s = StretchOf(LowerBound(ms)); s < stretchCount_; ++s) {
        const Stretch& st = StretchAt(s);
        const std::int64_t length =
            (s + 1 < stretchCount_ ? std::int64_t{StretchAt(s + 1).global} : size_) - std::int64_t{st.global};
        if (st.lane == lane && at >= std::int64_t{st.laneBegin} && at < std::int64_t{st.laneBegin} + length)
            return std::int64_t{st.global} + (at - std::int64_t{st.laneBegin});
    }
    return size_;
}

const IndexBreak& RunIndex::BreakOf(std::int64_t i) const {
    auto it = std::upper_bound(breaks_.begin(), breaks_.end(), i,
                               [](std::int64_t v, const IndexBreak& b) { return v < b.at; });
    return *std::prev(it);
}

std::int64_t RunIndex::IndexOf(std::int64_t i) const {
    const IndexBreak& b = BreakOf(i);
    return b.firstIndex + (i - b.at);
}

std::int64_t RunIndex::RunOf(std::int64_t i) const {
    return BreakOf(i).run;
}

std::int64_t RunIndex::RecordedTime(std::int64_t i) const {
    auto it = std::lower_bound(setBacks_.begin(), setBacks_.end(), i,
                               [](const SetBack& s, std::int64_t v) { return s.at < v; });
    return it != setBacks_.end() && it->at == i ? it->recordedMs : Time(i);
}

std::int64_t RunIndex::Time(std::int64_t i) const {
    const Place p = Locate(i);
    return lanes_[static_cast<std::size_t>(p.lane)]->store.Time(p.at);
}

double RunIndex::Value(std::int64_t i) const {
    const Place p = Locate(i);
    return lanes_[static_cast<std::size_t>(p.lane)]->store.Value(p.at);
}

std::uint8_t RunIndex::PointPosition(std::int64_t i) const {
    const Place p = Locate(i);
    return lanes_[static_cast<std::size_t>(p.lane)]->store.PointPosition(p.at);
}

bool RunIndex::StartsSegment(std::int64_t i) const {
    const Place p = Locate(i);
    return lanes_[static_cast<std::size_t>(p.lane)]->store.StartsSegment(p.at);
}

std::int64_t RunIndex::LowerBound(const RunStore& store, std::int64_t ms) {
    std::int64_t begin = 0, end = store.Size();
    while (begin < end) {
        const std::int64_t mid = begin + (end - begin) / 2;
        if (store.Time(mid) < ms)
            begin = mid + 1;
        else
            end = mid;
    }
    return begin;
}

std::int64_t RunIndex::LowerBound(std::int64_t ms, std::int64_t begin, std::int64_t end) const {
    // Instants never go back in the run: the stretches first, then within the one that holds it.
    if (begin >= end)
        return begin;
    std::int64_t low = StretchOf(begin), high = StretchOf(end - 1) + 1; // first stretch starting at >= ms
    const auto startMs = [&](std::int64_t s) {
        const Stretch& st = StretchAt(s);
        return lanes_[st.lane]->store.Time(st.laneBegin);
    };
    while (low < high) {
        const std::int64_t mid = low + (high - low) / 2;
        if (startMs(mid) < ms)
            low = mid + 1;
        else
            high = mid;
    }
    // The answer lies in stretch low - 1 (its tail) or is where stretch low begins.
    std::int64_t answer = low < stretchCount_ ? StretchAt(low).global : size_;
    if (low > 0) {
        const Stretch& st = StretchAt(low - 1);
        const RunStore& store = lanes_[st.lane]->store;
        std::int64_t a = st.laneBegin, b = st.laneBegin + (answer - std::int64_t{st.global});
        while (a < b) {
            const std::int64_t mid = a + (b - a) / 2;
            if (store.Time(mid) < ms)
                a = mid + 1;
            else
                b = mid;
        }
        answer = std::int64_t{st.global} + (a - std::int64_t{st.laneBegin});
    }
    return std::clamp(answer, begin, end);
}

std::size_t RunIndex::MemoryBytes() const {
    std::size_t bytes = sizeof(*this) + lanes_.capacity() * sizeof(lanes_[0]) +
                        stretches_.capacity() * sizeof(stretches_[0]) +
                        stretches_.size() * (sizeof(Stretch) << kStretchBits) +
                        breaks_.capacity() * sizeof(IndexBreak) + setBacks_.capacity() * sizeof(SetBack) +
                        gaps_.capacity() * sizeof(std::int64_t) +
                        offsets_.Changes().capacity() * sizeof(OffsetTable::Change);
    for (const auto& l : lanes_)
        bytes += sizeof(RunLane) - sizeof(RunStore) + l->store.MemoryBytes();
    return bytes;
}

} // namespace zelvox
