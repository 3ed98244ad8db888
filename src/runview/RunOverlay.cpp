#include "runview/RunOverlay.h"

namespace zelvox {

RunOverlay AlignAtStarts(const RunStore& a, const RunStore& b) {
    RunOverlay o;
    o.a = &a;
    o.b = &b;
    o.startA = a.Size() > 0 ? a.Time(0) : 0;
    o.startB = b.Size() > 0 ? b.Time(0) : 0;
    return o;
}

OverlayComparison CompareOverlay(const RunOverlay& overlay, std::int64_t fromMs, std::int64_t toMs) {
    OverlayComparison c;
    c.a = StoreStatistics(*overlay.a, fromMs, toMs);
    c.b = StoreStatistics(*overlay.b, overlay.OnB(fromMs), overlay.OnB(toMs));
    c.meanDifference = c.b.mean - c.a.mean;
    return c;
}

} // namespace zelvox
