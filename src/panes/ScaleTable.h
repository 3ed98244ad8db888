// The 59-row scale table shared by the needle gauge and the trend graph.
#pragma once

#include <array>
#include <cstdint>

namespace zelvox {

struct ScaleRow {
    double rangeMaximum;   // largest magnitude of the range; divisor and centre offset
    int dialFullScale;     // dial number at full deflection
    int dialImage;         // image id of the dial
    double trendFullScale; // G of the trend graph (row 0 has none: 0)
};

inline constexpr int kScaleRows = 59;
extern const std::array<ScaleRow, kScaleRows> scaleTable;

// The row for (functionCode, pointPosition, value), or 0 when no row matches.
// Temperature bounds are inclusive: +-50, then +-600, then +-1000, else rows 39/40.
std::uint16_t SelectScale(std::uint8_t functionCode, std::uint8_t pointPosition, double value);

// The gauge falls back to row 0, the trend graph to row 1.
inline std::uint16_t GaugeScale(std::uint8_t fc, std::uint8_t pp, double v) {
    return SelectScale(fc, pp, v);
}
inline std::uint16_t TrendScale(std::uint8_t fc, std::uint8_t pp, double m) {
    const std::uint16_t row = SelectScale(fc, pp, m);
    return row == 0 ? 1 : row;
}

} // namespace zelvox
