#include "record/ReadingRecord.h"

#include "decode/Labels.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace zelvox {

std::string FormatIsoDateTime(const WallTime& t) {
    const WallTime::Fields f = t.LocalFields();
    const int offsetMinutes = static_cast<int>(t.utcOffset.count() / 60);
    const int absMinutes = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", f.year,
                                f.month, f.day, f.hour, f.minute, f.second, f.millisecond,
                                offsetMinutes < 0 ? '-' : '+', absMinutes / 60, absMinutes % 60);
    return std::string(buf, static_cast<std::size_t>(n));
}

std::string FormatFileStamp(const WallTime& t) {
    const WallTime::Fields f = t.LocalFields();
    char buf[48];
    const int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d-%02d-%02d", f.year, f.month, f.day,
                                f.hour, f.minute, f.second);
    return std::string(buf, static_cast<std::size_t>(n));
}

bool ParseIsoDateTime(std::string_view s, WallTime& t) {
    // 2026-12-08T10:42:06.123+01:00: 29 characters, every field fixed in place.
    if (s.size() != 29 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' || s[16] != ':' ||
        s[19] != '.' || (s[23] != '+' && s[23] != '-') || s[26] != ':')
        return false;
    const auto field = [&](std::size_t at, std::size_t n, int& v) {
        v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (s[i] < '0' || s[i] > '9')
                return false;
            v = v * 10 + (s[i] - '0');
        }
        return true;
    };
    int year, month, day, hour, minute, second, ms, offH, offM;
    if (!field(0, 4, year) || !field(5, 2, month) || !field(8, 2, day) || !field(11, 2, hour) ||
        !field(14, 2, minute) || !field(17, 2, second) || !field(20, 3, ms) || !field(24, 2, offH) ||
        !field(27, 2, offM))
        return false;
    using namespace std::chrono;
    const year_month_day date{std::chrono::year(year), std::chrono::month(unsigned(month)),
                              std::chrono::day(unsigned(day))};
    if (!date.ok() || hour > 23 || minute > 59 || second > 59 || offH > 23 || offM > 59)
        return false;
    const seconds offset = (s[23] == '-' ? -1 : 1) * (hours(offH) + minutes(offM));
    const auto local = sys_days(date).time_since_epoch() + hours(hour) + minutes(minute) + seconds(second) +
                       milliseconds(ms);
    t.instant = sys_time<milliseconds>(duration_cast<milliseconds>(local - offset));
    t.utcOffset = offset;
    return true;
}

TableTexts MakeTableTexts(std::int64_t index, const Reading& r, const WallTime& t) {
    TableTexts texts;
    texts.index = std::to_string(index);
    texts.value = ToUtf8(FormatTableValue(r.value, r.pointPosition));
    if (r.functionCode < kFunctionCount)
        texts.type = ToUtf8(functionLabels[r.functionCode]);
    texts.time = ToUtf8(FormatTime(t));
    return texts;
}

std::string FormatFullPrecision(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string();
}

DispatchedReading MakeDispatchedReading(int run, std::int64_t index, const WallTime& at, const Reading& r) {
    return {run, index, at, r, MakeTableTexts(index, r, at)};
}

bool WriteAll(int fd, std::string_view s, int* error) {
    const char* p = s.data();
    std::size_t left = s.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = n < 0 ? errno : EIO;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace zelvox
