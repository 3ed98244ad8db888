#include "runview/ValueAxis.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zelvox {

ValueRange PaddedValueRange(double low, double high) {
    // Halves first: high - low of two finite values may overflow.
    const double half = high / 2 - low / 2;
    const double magnitude = std::max(std::abs(low), std::abs(high));
    // One value alone gets a hundredth of itself (a thousandth of the unit for 0) either side.
    double pad = half > 0 ? std::max(half * 0.12, magnitude * 1e-9) : std::max(magnitude * 0.01, 0.001);
    // Near the largest double the padded ends are taken as far as they go.
    ValueRange r{low - pad, high + pad};
    if (!std::isfinite(r.low))
        r.low = -std::numeric_limits<double>::max();
    if (!std::isfinite(r.high))
        r.high = std::numeric_limits<double>::max();
    // A range of adjacent doubles still divides: the drawing sees at least that much.
    if (!(r.high > r.low))
        r.high = std::nextafter(r.low, std::numeric_limits<double>::infinity());
    return r;
}

std::vector<double> ValueGrid(double low, double high, int lines) {
    std::vector<double> grid;
    if (!(high > low) || !std::isfinite(low) || !std::isfinite(high))
        return grid;
    lines = std::clamp(lines, 1, kMaxValueLines);
    const double raw = high / lines - low / lines;
    if (!(raw > 0) || !std::isfinite(raw))
        return grid;
    double step = std::pow(10.0, std::floor(std::log10(raw)));
    for (double f : {1.0, 2.0, 5.0, 10.0}) {
        if (f * step >= raw) {
            step *= f;
            break;
        }
    }
    if (!(step > 0) || !std::isfinite(step))
        return grid;
    // Lines at k * step for whole k: counted first, so that rounding cannot stall the walk.
    const double first = std::ceil(low / step), last = std::floor(high / step);
    if (!std::isfinite(first) || !std::isfinite(last) || last < first)
        return grid;
    const double count = std::min(last - first + 1, static_cast<double>(kMaxValueLines));
    for (int k = 0; k < static_cast<int>(count); ++k) {
        const double v = (first + k) * step;
        if (v >= low && v <= high && (grid.empty() || v > grid.back()))
            grid.push_back(v);
    }
    return grid;
}

int ValueGridDigits(const std::vector<double>& grid) {
    if (grid.size() < 2)
        return 7;
    const double step = grid[1] - grid[0];
    const double magnitude = std::max(std::abs(grid.front()), std::abs(grid.back()));
    if (!(step > 0) || !(magnitude > 0))
        return 7;
    return std::clamp(static_cast<int>(std::ceil(std::log10(magnitude / step))) + 2, 7, 17);
}

} // namespace zelvox
