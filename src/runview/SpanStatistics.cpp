#include "runview/SpanStatistics.h"

#include "decode/FunctionCode.h"
#include "decode/Labels.h"

#include <algorithm>
#include <cmath>

namespace zelvox {

bool IsCurrentFunction(std::uint8_t f) {
    return f >= kDcAmpere && f <= kAcMicroampere;
}

std::string ChargeUnit(std::uint8_t f) {
    if (!IsCurrentFunction(f))
        return {};
    return ToUtf8(unitLabels[f]) + "\u00B7h";
}

namespace {

LaneStatistics FromSummary(const RangeSummary& s) {
    LaneStatistics st;
    st.count = s.count;
    st.overHigh = s.overHigh;
    st.overLow = s.overLow;
    if (s.count > 0) {
        st.min = s.min;
        st.max = s.max;
        st.mean = s.mean;
        st.stdDev = std::sqrt(s.m2 / static_cast<double>(s.count));
        st.peakToPeak = s.max - s.min;
    }
    st.integral = s.area;
    return st;
}

} // namespace

LaneStatistics StoreStatistics(const RunStore& store, std::int64_t fromMs, std::int64_t toMs) {
    const std::int64_t first = RunIndex::LowerBound(store, fromMs);
    const std::int64_t last = toMs == INT64_MAX ? store.Size() : RunIndex::LowerBound(store, toMs + 1);
    return FromSummary(first < last ? store.Summarise(first, last) : RangeSummary{});
}

std::vector<LaneStatistics> SpanStatistics(const RunIndex& index, std::int64_t fromMs, std::int64_t toMs) {
    // Each lane summed from its own pyramid: a few pieces per level, whatever the span.
    std::vector<LaneStatistics> out;
    for (std::size_t l = 0; l < index.LaneCount(); ++l) {
        const RunStore& store = index.Lane(l).store;
        const std::int64_t first = RunIndex::LowerBound(store, fromMs);
        const std::int64_t last = toMs == INT64_MAX ? store.Size() : RunIndex::LowerBound(store, toMs + 1);
        if (first >= last)
            continue;
        LaneStatistics st = FromSummary(store.Summarise(first, last));
        st.lane = static_cast<int>(l);
        st.function = index.Lane(l).function;
        st.hasCharge = IsCurrentFunction(st.function);
        if (st.hasCharge)
            st.charge = st.integral / 3.6e6;
        st.outsideMs = index.Events().OutsideMs(index, st.lane, fromMs, toMs);
        out.push_back(st);
    }
    return out;
}

} // namespace zelvox
