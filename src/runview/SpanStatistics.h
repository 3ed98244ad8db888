// The statistics of a span of time, lane by lane: count, min, max, mean, standard deviation,
// peak-to-peak, for the current functions the charge, and the time outside limits (inside the
// lane's alarm firing spans). Overloads are counted apart and never
// enter a figure. Summed up from the run's pyramid, so any span costs the same little work.
#pragma once

#include "runview/RunIndex.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zelvox {

struct LaneStatistics {
    int lane = 0;
    std::uint8_t function = 0;
    std::int64_t count = 0; // readings with a value
    std::int64_t overHigh = 0, overLow = 0;
    double min = 0, max = 0, mean = 0;
    double stdDev = 0; // population standard deviation
    double peakToPeak = 0;
    bool hasCharge = false;
    double charge = 0;          // in the unit's hours (A·h, mA·h, uA·h), over the span's segments
    double integral = 0;        // of value over milliseconds, within segments (W·ms for a power lane)
    std::int64_t outsideMs = 0; // time outside limits: inside the lane's firing spans
};

// The readings of one lane's store with instants in [fromMs, toMs] (lane and function left at 0,
// no charge).
LaneStatistics StoreStatistics(const RunStore& store, std::int64_t fromMs, std::int64_t toMs);

// True for the functions that measure a current.
bool IsCurrentFunction(std::uint8_t functionCode);
// "A·h", "mA·h", "uA·h" for the current functions, else empty (UTF-8).
std::string ChargeUnit(std::uint8_t functionCode);

// The readings with instants in [fromMs, toMs], of every lane that has one there.
std::vector<LaneStatistics> SpanStatistics(const RunIndex& index, std::int64_t fromMs, std::int64_t toMs);

} // namespace zelvox
