#include "record/ReadingRecord.h"

#include "decode/Labels.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace zelvox {

namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// The civil (proleptic Gregorian) date of a day number counted from 1970-01-01.
void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = FloorDiv(z, 146097);
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

struct LocalFields {
    int year, month, day, hour, minute, second, millisecond;
};

LocalFields Fields(const WallTime& t) {
    const std::int64_t local = t.epochMs + std::int64_t(t.utcOffsetSeconds) * 1000;
    const std::int64_t days = FloorDiv(local, 86400000);
    const std::int64_t msOfDay = local - days * 86400000;
    LocalFields f{};
    CivilFromDays(days, f.year, f.month, f.day);
    f.hour = static_cast<int>(msOfDay / 3600000);
    f.minute = static_cast<int>(msOfDay / 60000 % 60);
    f.second = static_cast<int>(msOfDay / 1000 % 60);
    f.millisecond = static_cast<int>(msOfDay % 1000);
    return f;
}

// Appends s as a CSV field, quoted only when it has to be.
void AppendCsvField(std::string& out, std::string_view s) {
    if (s.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += s;
        return;
    }
    out += '"';
    for (char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void AppendJsonString(std::string& out, std::string_view s) {
    out += '"';
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c; // UTF-8 passes through
        }
    }
    out += '"';
}

} // namespace

TimeOfDay WallTime::LocalTimeOfDay() const {
    const LocalFields f = Fields(*this);
    return {f.hour, f.minute, f.second, f.millisecond};
}

WallTime WallTimeAt(std::int64_t epochMs) {
    const std::time_t secs = static_cast<std::time_t>(FloorDiv(epochMs, 1000));
    std::tm tm{};
    localtime_r(&secs, &tm);
    return {epochMs, static_cast<int>(tm.tm_gmtoff)};
}

WallTime WallTimeNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return WallTimeAt(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

WallTime WallTimeForTimeOfDay(const WallTime& near, const TimeOfDay& t) {
    constexpr std::int64_t kDay = 86400000;
    const TimeOfDay n = near.LocalTimeOfDay();
    const auto ms = [](const TimeOfDay& x) {
        return ((std::int64_t(x.hour) * 60 + x.minute) * 60 + x.second) * 1000 + x.millisecond;
    };
    std::int64_t delta = ms(t) - ms(n);
    if (delta > kDay / 2)
        delta -= kDay;
    else if (delta < -kDay / 2)
        delta += kDay;
    return WallTimeAt(near.epochMs + delta);
}

bool ParseTimeText(std::string_view s, TimeOfDay& t) {
    const auto field = [&](std::size_t at, std::size_t n, int max, int& v) {
        v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (s[i] < '0' || s[i] > '9')
                return false;
            v = v * 10 + (s[i] - '0');
        }
        return v <= max;
    };
    return s.size() == 12 && s[2] == ':' && s[5] == ':' && s[8] == ':' && field(0, 2, 23, t.hour) &&
           field(3, 2, 59, t.minute) && field(6, 2, 59, t.second) && field(9, 3, 999, t.millisecond);
}

std::string FormatIsoDateTime(const WallTime& t) {
    const LocalFields f = Fields(t);
    const int offsetMinutes = t.utcOffsetSeconds / 60;
    const int absMinutes = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", f.year,
                                f.month, f.day, f.hour, f.minute, f.second, f.millisecond,
                                offsetMinutes < 0 ? '-' : '+', absMinutes / 60, absMinutes % 60);
    return std::string(buf, static_cast<std::size_t>(n));
}

std::string FormatFileStamp(const WallTime& t) {
    const LocalFields f = Fields(t);
    char buf[48];
    const int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d-%02d-%02d", f.year, f.month, f.day,
                                f.hour, f.minute, f.second);
    return std::string(buf, static_cast<std::size_t>(n));
}

TableTexts MakeTableTexts(int index, const Reading& r, const TimeOfDay& t) {
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

const std::string& CsvHeader() {
    static const std::string header = "DateTime,Index,Value,Type,Time,Number\r\n";
    return header;
}

std::string CsvLine(const WallTime& at, const Reading& r, const TableTexts& texts) {
    std::string line;
    line.reserve(96);
    line += FormatIsoDateTime(at);
    for (const std::string* field : {&texts.index, &texts.value, &texts.type, &texts.time}) {
        line += ',';
        AppendCsvField(line, *field);
    }
    line += ',';
    if (!IsOverload(r.value))
        line += FormatFullPrecision(r.value);
    line += "\r\n";
    return line;
}

std::string JsonLine(const WallTime& at, const Reading& r) {
    std::string line;
    line.reserve(128);
    line += "{\"time\":\"";
    line += FormatIsoDateTime(at);
    line += "\",\"value\":";
    const bool overload = IsOverload(r.value);
    const std::string number = overload ? std::string() : FormatFullPrecision(r.value);
    // JSON has no NaN or infinity; the decoder never makes them, but a value must stay valid JSON.
    const bool finite = !number.empty() && number.find_first_of("ni") == std::string::npos;
    line += finite ? number : "null";
    line += ",\"overload\":";
    line += !overload ? "0" : (r.value > 0 ? "1" : "-1");
    line += ",\"text\":";
    AppendJsonString(line, ToUtf8(FormatTableValue(r.value, r.pointPosition)));
    line += ",\"function\":";
    AppendJsonString(line, r.functionCode < kFunctionCount ? ToUtf8(functionLabels[r.functionCode]) : "");
    line += ",\"unit\":";
    AppendJsonString(line, r.functionCode < kFunctionCount ? ToUtf8(unitLabels[r.functionCode]) : "");
    line += "}\n";
    return line;
}

namespace {

// Reads one record starting at pos. Returns false when the record is malformed; *complete is
// false when the text ended before the record's line end.
bool ReadRecord(std::string_view text, std::size_t& pos, std::vector<std::string>& fields, bool* complete) {
    fields.clear();
    fields.emplace_back();
    bool ok = true;
    const std::size_t n = text.size();
    while (pos < n) {
        char c = text[pos];
        if (c == '"' && fields.back().empty()) {
            // Quoted field: runs to the lone quote that closes it.
            ++pos;
            bool closed = false;
            while (pos < n) {
                c = text[pos++];
                if (c == '"') {
                    if (pos < n && text[pos] == '"') {
                        fields.back() += '"';
                        ++pos;
                        continue;
                    }
                    closed = true;
                    break;
                }
                fields.back() += c;
            }
            if (!closed) {
                *complete = false;
                return false;
            }
            if (pos < n && text[pos] != ',' && text[pos] != '\r' && text[pos] != '\n')
                ok = false; // text after the closing quote
            continue;
        }
        ++pos;
        if (c == ',') {
            fields.emplace_back();
        } else if (c == '\n') {
            *complete = true;
            return ok;
        } else if (c == '\r' && pos < n && text[pos] == '\n') {
            ++pos;
            *complete = true;
            return ok;
        } else {
            if (c == '\0' || c == '"' || c == '\r')
                ok = false; // a zero-filled block after a power cut, or a quote inside a bare field
            fields.back() += c;
        }
    }
    *complete = false;
    return ok;
}

} // namespace

bool ParseCsvLine(std::string_view line, std::vector<std::string>& fields) {
    std::size_t pos = 0;
    bool complete = false;
    const bool ok = ReadRecord(line, pos, fields, &complete);
    // A line break before the end means more than one line; an open quote leaves complete false
    // and ok false.
    (void)complete;
    return ok && pos == line.size();
}

std::vector<std::vector<std::string>> ParseCsv(std::string_view text, bool* torn, int* malformed) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> fields;
    std::size_t pos = 0;
    if (torn)
        *torn = false;
    if (malformed)
        *malformed = 0;
    while (pos < text.size()) {
        bool complete = false;
        const bool ok = ReadRecord(text, pos, fields, &complete);
        if (!complete) {
            if (torn)
                *torn = true;
            break;
        }
        if (ok)
            records.push_back(fields);
        else if (malformed)
            ++*malformed;
    }
    return records;
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
