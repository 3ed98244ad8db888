// Texts of readings and times, shared by the MAX/MIN fields, the readings table and the tools.
#pragma once

#include "decode/WallClock.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelvox {

// By pointPosition: 1 "%.3f", 2 "%.2f", 3 "%.1f", otherwise "%d" of the value truncated
// toward zero (to a 32-bit integer). The decimal separator is always '.', whatever the locale.
std::u16string FormatValue(double value, std::uint8_t pointPosition);

// Room for any text FormatValue can make.
using ValueChars = std::array<char, 400>;
// FormatTableValue's text in ASCII, written into buf: for readers that compare many texts
// and should not allocate one each time.
std::string_view FormatTableValueChars(double value, std::uint8_t pointPosition, ValueChars& buf);

// The readings table's Value text: "0L" for exactly +999999.0, "-0L" for -999999.0,
// otherwise FormatValue.
std::u16string FormatTableValue(double value, std::uint8_t pointPosition);

// The local time of day of t: HH:MM:SS:mmm, each field zero-padded.
std::u16string FormatTime(const WallTime& t);

// The local date and time of t: YYYY-MM-DD HH:MM:SS (the year is not padded).
std::u16string FormatClock(const WallTime& t);

} // namespace zelvox
