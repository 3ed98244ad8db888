// The ticks of a time axis: a step from a millisecond to a week, chosen so that labels keep
// apart, on round values of the local clock as recorded (its UTC offset may change within the
// span, at a daylight-saving change); the date is given where it changes.
#pragma once

#include "runview/RunIndex.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zelvox {

struct TimeTick {
    std::int64_t ms = 0;
    std::string time; // "14:05", "14:05:30", "14:05:30.250"; empty for a step of a day or more
    std::string date; // "2026-03-29" on the first tick and where the local date changes

    bool operator==(const TimeTick&) const = default;
};

// The steps offered, in milliseconds.
const std::vector<std::int64_t>& TimeTickSteps();

// The smallest step whose ticks lie at least minSpacing columns apart.
std::int64_t TimeTickStep(double msPerColumn, double minSpacing);

// The ticks in [fromMs, toMs] with the given step.
std::vector<TimeTick> TimeTicks(std::int64_t fromMs, std::int64_t toMs, std::int64_t step,
                                const OffsetTable& offsets);

// "2026-03-29 14:05:30.250" in the local time of the offset.
std::string FormatLocalTime(std::int64_t ms, int offsetSeconds, bool withDate = true);

} // namespace zelvox
