// Table rows with known texts, for the tests of the table and the exports.
#pragma once

#include "decode/Reading.h"
#include "decode/WallClock.h"
#include "record/ReadingRecord.h"
#include "session/ReadingsModel.h"

#include <cstdint>

namespace zelvox::testing {

// A local time of day, h:m:s.ms.
struct ClockTime {
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// A moment whose local time of day is t (on the epoch's first day, at UTC offset 0).
inline WallTime AtClock(const ClockTime& t) {
    return WallTimeAt(((t.hour * 60LL + t.minute) * 60 + t.second) * 1000 + t.millisecond, 0);
}

// Appends the reading (value, point position, function code) added at local time `at`.
inline void AddRow(ReadingsModel& rows, std::uint8_t pointPosition, std::uint8_t functionCode, double value,
                   const ClockTime& at = {}) {
    rows.Append(
        MakeDispatchedReading(1, rows.NextIndex(), AtClock(at), Reading{value, pointPosition, functionCode}));
}

} // namespace zelvox::testing
