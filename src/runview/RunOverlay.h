// One run laid over another: two lanes (of one source or two) on one axis of time since their
// starts, each start the lane's first reading or an instant the user picked in it. The second
// lane's instant t is drawn at t - (startB - startA) on the first lane's clock; a span of the
// axis is the same stretch of time since the start in both, and their statistics compared.
#pragma once

#include "runview/RunStore.h"
#include "runview/SpanStatistics.h"

#include <cstdint>

namespace zelvox {

struct RunOverlay {
    const RunStore* a = nullptr;
    const RunStore* b = nullptr;
    std::int64_t startA = 0, startB = 0;

    // The first lane's clock for an instant of the second lane, and back.
    std::int64_t OnA(std::int64_t msOfB) const { return msOfB - (startB - startA); }
    std::int64_t OnB(std::int64_t msOfA) const { return msOfA + (startB - startA); }
    // Time since start of an instant on the first lane's clock.
    std::int64_t SinceStart(std::int64_t msOfA) const { return msOfA - startA; }
};

// Both aligned at their first readings (0 for an empty lane).
RunOverlay AlignAtStarts(const RunStore& a, const RunStore& b);

struct OverlayComparison {
    LaneStatistics a, b;       // of [fromMs, toMs] on the first lane's clock, and the same on the second's
    double meanDifference = 0; // b's mean less a's
};

OverlayComparison CompareOverlay(const RunOverlay& overlay, std::int64_t fromMs, std::int64_t toMs);

} // namespace zelvox
