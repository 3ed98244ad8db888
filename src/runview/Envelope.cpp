#include "runview/Envelope.h"

#include <algorithm>

namespace zelvox {

namespace {

// The first reading in [begin, end) whose column is past x (readings are in time order).
std::int64_t PastColumn(const RunStore& store, const TimeScale& scale, std::int64_t x, std::int64_t begin,
                        std::int64_t end) {
    // Galloping first: zoomed in, the next column starts a reading or two further on.
    std::int64_t step = 1, low = begin;
    while (low + step < end && scale.Column(store.Time(low + step)) <= x) {
        low += step;
        step *= 2;
    }
    std::int64_t high = std::min(end, low + step);
    while (low < high) {
        const std::int64_t mid = low + (high - low) / 2;
        if (scale.Column(store.Time(mid)) <= x)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

// The first reading in [begin, end) whose column is at least x.
std::int64_t AtColumn(const RunStore& store, const TimeScale& scale, std::int64_t x, std::int64_t begin,
                      std::int64_t end) {
    while (begin < end) {
        const std::int64_t mid = begin + (end - begin) / 2;
        if (scale.Column(store.Time(mid)) < x)
            begin = mid + 1;
        else
            end = mid;
    }
    return begin;
}

} // namespace

std::vector<EnvelopeColumn> StoreEnvelope(const RunStore& store, const TimeScale& scale, std::int64_t columns,
                                          std::int64_t firstColumn) {
    std::vector<EnvelopeColumn> lane;
    const std::int64_t first = AtColumn(store, scale, firstColumn, 0, store.Size());
    const std::int64_t last = AtColumn(store, scale, columns + 1, first, store.Size());
    for (std::int64_t at = first; at < last;) {
        const std::int64_t x = scale.Column(store.Time(at));
        const std::int64_t next = PastColumn(store, scale, x, at, last);
        const RangeSummary s = store.Extent(at, next);
        EnvelopeColumn c;
        c.x = x;
        if (at > 0 && !store.StartsSegment(at) && !IsOverload(store.Value(at)) &&
            !IsOverload(store.Value(at - 1))) {
            c.joinsPrevious = true;
            c.previousMs = store.Time(at - 1);
            c.previousValue = store.Value(at - 1);
        }
        if (s.count > 0) {
            c.min = s.min;
            c.max = s.max;
            c.first = s.first;
            c.last = s.last;
            c.count = s.count;
        }
        c.overHigh = s.overHigh;
        c.overLow = s.overLow;
        lane.push_back(c);
        at = next;
    }
    return lane;
}

std::vector<std::vector<EnvelopeColumn>> LaneEnvelopes(const RunIndex& index, const TimeScale& scale,
                                                       std::int64_t columns, std::int64_t firstColumn) {
    std::vector<std::vector<EnvelopeColumn>> lanes(index.LaneCount());
    // Each lane from its own readings and pyramid: the columns cost the same however often the
    // run changes function.
    for (std::size_t l = 0; l < lanes.size(); ++l)
        lanes[l] = StoreEnvelope(index.Lane(l).store, scale, columns, firstColumn);
    return lanes;
}

} // namespace zelvox
