#include "runview/RunStore.h"

#include "decode/Reading.h"

#include <algorithm>

namespace zelvox {

void RangeSummary::Append(const RangeSummary& b, double pairArea) {
    overHigh += b.overHigh;
    overLow += b.overLow;
    area += b.area + pairArea;
    if (b.count == 0)
        return;
    if (count == 0) {
        const double keptArea = area;
        const std::int64_t high = overHigh, low = overLow;
        *this = b;
        area = keptArea;
        overHigh = high;
        overLow = low;
        return;
    }
    const double n = static_cast<double>(count + b.count);
    const double delta = b.mean - mean;
    mean += delta * (static_cast<double>(b.count) / n);
    m2 += b.m2 + delta * delta * (static_cast<double>(count) * static_cast<double>(b.count) / n);
    count += b.count;
    min = std::min(min, b.min);
    max = std::max(max, b.max);
    last = b.last;
}

void RangeSummary::AppendValue(double v) {
    if (IsOverload(v)) {
        ++(v > 0 ? overHigh : overLow);
        return;
    }
    if (count == 0) {
        min = max = first = last = mean = v;
        m2 = 0;
        count = 1;
        return;
    }
    ++count;
    const double delta = v - mean;
    mean += delta / static_cast<double>(count);
    m2 += delta * (v - mean);
    min = std::min(min, v);
    max = std::max(max, v);
    last = v;
}

void RunStore::NodeBlocks::PushBack(const Node& n) {
    if ((size_ & ((1 << kBits) - 1)) == 0)
        blocks_.push_back(std::make_unique_for_overwrite<Node[]>(std::size_t{1} << kBits));
    blocks_.back()[static_cast<std::size_t>(size_ & ((1 << kBits) - 1))] = n;
    ++size_;
}

std::size_t RunStore::NodeBlocks::Bytes() const {
    return blocks_.capacity() * sizeof(blocks_[0]) + blocks_.size() * (sizeof(Node) << kBits);
}

RunStore::RunStore() = default;
RunStore::~RunStore() = default;

void RunStore::Append(std::int64_t ms, double value, std::uint8_t pointPosition, bool startsSegment) {
    const std::size_t slot = Slot(size_);
    if (slot == 0)
        chunks_.push_back(std::make_unique_for_overwrite<ChunkData>());
    ChunkData& c = *chunks_.back();
    c.ms[slot] = ms;
    c.value[slot] = value;
    c.mark[slot] =
        static_cast<std::uint8_t>((pointPosition & kPointMask) | (startsSegment ? kSegmentBit : 0));
    ++size_;
    CloseNodes(size_);
}

double RunStore::PairArea(std::int64_t i) const {
    if (i <= 0 || StartsSegment(i))
        return 0;
    const double a = Value(i - 1), b = Value(i);
    if (IsOverload(a) || IsOverload(b))
        return 0;
    return (a + b) * 0.5 * static_cast<double>(Time(i) - Time(i - 1));
}

RangeSummary RunStore::Single(std::int64_t i) const {
    RangeSummary s;
    s.AppendValue(Value(i));
    return s;
}

RangeSummary RunStore::FromNode(const Node& n) {
    RangeSummary s;
    s.count = n.count;
    s.min = n.min;
    s.max = n.max;
    s.first = n.first;
    s.last = n.last;
    s.mean = n.mean;
    s.m2 = n.m2;
    s.area = n.area;
    s.overHigh = n.overHigh;
    s.overLow = n.overLow;
    return s;
}

RunStore::Node RunStore::ToNode(const RangeSummary& s) {
    return Node{s.min,
                s.max,
                s.first,
                s.last,
                s.mean,
                s.m2,
                s.area,
                static_cast<std::uint32_t>(s.count),
                static_cast<std::uint32_t>(s.overHigh),
                static_cast<std::uint32_t>(s.overLow)};
}

// Makes every node that the reading just before end completes, from the level below it.
void RunStore::CloseNodes(std::int64_t end) {
    std::int64_t span = 1;
    for (int k = 0; k < kLevels; ++k) {
        const std::int64_t childSpan = span;
        span *= kFanOut;
        if ((end & (span - 1)) != 0)
            return;
        const std::int64_t begin = end - span;
        RangeSummary s;
        for (std::int64_t at = begin; at < end; at += childSpan) {
            const RangeSummary child = k == 0 ? Single(at) : FromNode(levels_[k - 1][NodeOf(at, k - 1)]);
            s.Append(child, at > begin ? PairArea(at) : 0.0);
        }
        levels_[k].PushBack(ToNode(s));
    }
}

RangeSummary RunStore::Summarise(std::int64_t begin, std::int64_t end) const {
    return Sum<true>(begin, end);
}

RangeSummary RunStore::Extent(std::int64_t begin, std::int64_t end) const {
    return Sum<false>(begin, end);
}

// The highest complete node that starts at `at` and ends by `end`: its level (-1 for a single
// reading) and, in span, how many readings it covers.
int RunStore::NodeAt(std::int64_t at, std::int64_t end, std::int64_t& span) const {
    int level = -1;
    span = 1;
    while (level + 1 < kLevels) {
        const std::int64_t next = span << kFanOutBits;
        if ((at & (next - 1)) != 0 || at + next > end)
            break;
        span = next;
        ++level;
    }
    return level;
}

template <bool kFull> RangeSummary RunStore::Sum(std::int64_t begin, std::int64_t end) const {
    RangeSummary s;
    begin = std::max<std::int64_t>(begin, 0);
    end = std::min(end, size_);
    for (std::int64_t at = begin; at < end;) {
        std::int64_t span = 1;
        const int level = NodeAt(at, end, span);
        if constexpr (kFull) {
            const RangeSummary piece = level < 0 ? Single(at) : FromNode(levels_[level][NodeOf(at, level)]);
            s.Append(piece, at > begin ? PairArea(at) : 0.0);
        } else if (level < 0) {
            const double v = Value(at);
            if (IsOverload(v)) {
                ++(v > 0 ? s.overHigh : s.overLow);
            } else {
                s.min = s.count ? std::min(s.min, v) : v;
                s.max = s.count ? std::max(s.max, v) : v;
                s.first = s.count ? s.first : v;
                s.last = v;
                ++s.count;
            }
        } else {
            const Node& n = levels_[level][NodeOf(at, level)];
            s.overHigh += n.overHigh;
            s.overLow += n.overLow;
            if (n.count > 0) {
                s.min = s.count ? std::min(s.min, n.min) : n.min;
                s.max = s.count ? std::max(s.max, n.max) : n.max;
                s.first = s.count ? s.first : n.first;
                s.last = n.last;
                s.count += n.count;
            }
        }
        at += span;
    }
    return s;
}

std::int64_t RunStore::FindFirst(std::int64_t begin, std::int64_t end,
                                 const std::function<bool(const RangeSummary&)>& wanted) const {
    begin = std::max<std::int64_t>(begin, 0);
    end = std::min(end, size_);
    for (std::int64_t at = begin; at < end;) {
        std::int64_t span = 1;
        int level = NodeAt(at, end, span);
        if (wanted(level < 0 ? Single(at) : FromNode(levels_[level][NodeOf(at, level)]))) {
            // Down the node to the first of its readings that meets it.
            for (std::int64_t from = at; level >= 0; --level) {
                const std::int64_t child = span / kFanOut;
                for (std::int64_t c = from; c < from + span; c += child) {
                    if (wanted(level == 0 ? Single(c) : FromNode(levels_[level - 1][NodeOf(c, level - 1)]))) {
                        from = c;
                        break;
                    }
                }
                span = child;
                at = from;
            }
            return at;
        }
        at += span;
    }
    return end;
}

std::size_t RunStore::MemoryBytes() const {
    std::size_t bytes =
        sizeof(*this) + chunks_.capacity() * sizeof(chunks_[0]) + chunks_.size() * sizeof(ChunkData);
    for (const auto& level : levels_)
        bytes += level.Bytes();
    return bytes;
}

} // namespace zelvox
