#include "decode/Format.h"

#include "decode/Reading.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

namespace zelvox {

namespace {

std::u16string Widen(const char* s, std::size_t n) {
    return std::u16string(s, s + n);
}

// A clock field zero-padded to width digits (fields are never negative in practice).
void AppendPadded(std::u16string& out, int v, int width) {
    char buf[16];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    for (auto n = r.ptr - buf; n < width; ++n)
        out += u'0';
    out.append(buf, r.ptr);
}

// The value truncated toward zero to a 32-bit integer. Values beyond the range clamp to its
// ends and NaN becomes 0, so the conversion is always defined.
std::int32_t TruncateToInt32(double value) {
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (value <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

} // namespace

namespace {

std::string_view FormatValueChars(double value, std::uint8_t pointPosition, ValueChars& buf) {
    // std::to_chars never consults the locale, so the separator is always '.'.
    char* const begin = buf.data();
    char* const end = begin + buf.size();
    std::to_chars_result r;
    switch (pointPosition) {
    case 1:
        r = std::to_chars(begin, end, value, std::chars_format::fixed, 3);
        break;
    case 2:
        r = std::to_chars(begin, end, value, std::chars_format::fixed, 2);
        break;
    case 3:
        r = std::to_chars(begin, end, value, std::chars_format::fixed, 1);
        break;
    default:
        r = std::to_chars(begin, end, TruncateToInt32(value));
        break;
    }
    if (r.ec != std::errc())
        return {};
    return std::string_view(begin, static_cast<std::size_t>(r.ptr - begin));
}

} // namespace

std::u16string FormatValue(double value, std::uint8_t pointPosition) {
    ValueChars buf; // wide enough for any double in fixed notation with 3 decimals
    const std::string_view text = FormatValueChars(value, pointPosition, buf);
    return Widen(text.data(), text.size());
}

std::string_view FormatTableValueChars(double value, std::uint8_t pointPosition, ValueChars& buf) {
    if (value == kOverload)
        return "0L";
    if (value == -kOverload)
        return "-0L";
    return FormatValueChars(value, pointPosition, buf);
}

std::u16string FormatTableValue(double value, std::uint8_t pointPosition) {
    ValueChars buf;
    const std::string_view text = FormatTableValueChars(value, pointPosition, buf);
    return Widen(text.data(), text.size());
}

std::u16string FormatTime(const WallTime& at) {
    const WallTime::Fields t = at.LocalFields();
    std::u16string out;
    AppendPadded(out, t.hour, 2);
    out += u':';
    AppendPadded(out, t.minute, 2);
    out += u':';
    AppendPadded(out, t.second, 2);
    out += u':';
    AppendPadded(out, t.millisecond, 3);
    return out;
}

std::u16string FormatClock(const WallTime& at) {
    const WallTime::Fields t = at.LocalFields();
    std::u16string out;
    AppendPadded(out, t.year, 1);
    out += u'-';
    AppendPadded(out, t.month, 2);
    out += u'-';
    AppendPadded(out, t.day, 2);
    out += u' ';
    AppendPadded(out, t.hour, 2);
    out += u':';
    AppendPadded(out, t.minute, 2);
    out += u':';
    AppendPadded(out, t.second, 2);
    return out;
}

} // namespace zelvox
