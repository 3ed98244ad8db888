// The value axis of a lane: the range a lane shows for its readings' extent, and the grid lines
// on round values within it. Both hold for any finite extent (one ulp wide, 1e-300 or 1e300
// across, a single value): the range always has a width the drawing can divide by, and the
// lines come from an integer count, never from adding a step until the top is passed.
#pragma once

#include <vector>

namespace zelvox {

struct ValueRange {
    double low = 0, high = 1;
};

// The range shown for readings from low to high (low <= high): a little room on either side,
// and a width of at least a few billionths of the values' size.
ValueRange PaddedValueRange(double low, double high);

// Grid values in [low, high], ascending, on multiples of 1, 2 or 5 times a power of ten, about
// `lines` of them and never more than kMaxValueLines.
constexpr int kMaxValueLines = 64;
std::vector<double> ValueGrid(double low, double high, int lines);

// The significant digits a label of the grid needs to tell its values apart (7 at least, 17 at
// most).
int ValueGridDigits(const std::vector<double>& grid);

} // namespace zelvox
