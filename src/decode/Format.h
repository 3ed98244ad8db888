// Texts of readings and times, shared by the MAX/MIN fields, the readings table and the tools.
#pragma once

#include <cstdint>
#include <string>

namespace zelvox {

struct TimeOfDay {
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

struct DateTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// By pointPosition: 1 "%.3f", 2 "%.2f", 3 "%.1f", otherwise "%d" of the value truncated
// toward zero (to a 32-bit integer). The decimal separator is always '.', whatever the locale.
std::u16string FormatValue(double value, std::uint8_t pointPosition);

// The readings table's Value text: "0L" for exactly +999999.0, "-0L" for -999999.0,
// otherwise FormatValue.
std::u16string FormatTableValue(double value, std::uint8_t pointPosition);

// HH:MM:SS:mmm, each field zero-padded.
std::u16string FormatTime(const TimeOfDay& t);

// YYYY-MM-DD HH:MM:SS (the year is not padded).
std::u16string FormatClock(const DateTime& t);

// The local wall-clock time now.
TimeOfDay LocalTimeOfDay();
DateTime LocalDateTime();

} // namespace zelvox
