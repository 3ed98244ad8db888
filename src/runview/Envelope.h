// What each pixel column of a time axis shows of each lane: the M4 aggregation (min, max, first,
// last of the readings under the column), so that drawing the columns gives the same picture as
// drawing every reading, at any zoom.
#pragma once

#include "runview/RunIndex.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace zelvox {

// Milliseconds to pixel columns: column x holds the instants t with floor((t - startMs) /
// msPerColumn) == x.
struct TimeScale {
    double startMs = 0;
    double msPerColumn = 1;

    std::int64_t Column(std::int64_t ms) const {
        return static_cast<std::int64_t>(std::floor((static_cast<double>(ms) - startMs) / msPerColumn));
    }
    double X(std::int64_t ms) const { return (static_cast<double>(ms) - startMs) / msPerColumn; }
    double Ms(double x) const { return startMs + x * msPerColumn; }
};

struct EnvelopeColumn {
    std::int64_t x = 0;
    std::int64_t count = 0; // readings with a value
    double min = 0, max = 0, first = 0, last = 0;
    std::int64_t overHigh = 0, overLow = 0;
    // The line comes in from the reading just before the column's first one (same segment, both
    // with values): the instant and value of that reading.
    bool joinsPrevious = false;
    std::int64_t previousMs = 0;
    double previousValue = 0;

    bool operator==(const EnvelopeColumn&) const = default;
};

// The columns firstColumn..columns (the last one half off the right edge, for the line that
// leaves it) of every lane, only those that hold readings, in order.
// The same of one lane's store (a lane of any source, or a derived one).
std::vector<EnvelopeColumn> StoreEnvelope(const RunStore& store, const TimeScale& scale, std::int64_t columns,
                                          std::int64_t firstColumn = 0);
std::vector<std::vector<EnvelopeColumn>> LaneEnvelopes(const RunIndex& index, const TimeScale& scale,
                                                       std::int64_t columns, std::int64_t firstColumn = 0);

} // namespace zelvox
