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

std::vector<LaneStatistics> SpanStatistics(const RunIndex& index, std::int64_t fromMs, std::int64_t toMs) {
    const std::int64_t first = index.LowerBound(fromMs);
    const std::int64_t last =
        toMs == INT64_MAX ? index.Size() : index.LowerBound(toMs + 1, first, index.Size());
    std::vector<RangeSummary> sums(index.Lanes().size());
    std::vector<bool> seen(index.Lanes().size(), false);
    const auto& segments = index.Segments();
    if (first < last) {
        auto seg = std::upper_bound(segments.begin(), segments.end(), first,
                                    [](std::int64_t v, const RunSegment& s) { return v < s.begin; });
        for (--seg; seg != segments.end() && seg->begin < last; ++seg) {
            const auto lane = static_cast<std::size_t>(seg->lane);
            sums[lane].Append(index.Store().Summarise(std::max(seg->begin, first), std::min(seg->end, last)),
                              0.0);
            seen[lane] = true;
        }
    }
    std::vector<LaneStatistics> out;
    for (std::size_t l = 0; l < sums.size(); ++l) {
        if (!seen[l])
            continue;
        const RangeSummary& s = sums[l];
        LaneStatistics st;
        st.lane = static_cast<int>(l);
        st.function = index.Lanes()[l].function;
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
        st.hasCharge = IsCurrentFunction(st.function);
        if (st.hasCharge)
            st.charge = s.area / 3.6e6;
        out.push_back(st);
    }
    return out;
}

} // namespace zelvox
