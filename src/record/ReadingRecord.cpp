#include "record/ReadingRecord.h"

#include "decode/Labels.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace zelvox {

namespace {

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

} // namespace

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
        const auto r = std::from_chars(s.data() + at, s.data() + at + n, v);
        return r.ec == std::errc() && r.ptr == s.data() + at + n && s[at] != '-' && s[at] != '+';
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

TableTexts MakeTableTexts(int index, const Reading& r, const WallTime& t) {
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

DispatchedReading MakeDispatchedReading(int run, int index, const WallTime& at, const Reading& r) {
    return {run, index, at, r, MakeTableTexts(index, r, at)};
}

std::string CsvLine(const DispatchedReading& d) {
    const TableTexts& texts = d.texts;
    const Reading& r = d.reading;
    std::string line;
    line.reserve(96);
    line += FormatIsoDateTime(d.at);
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
