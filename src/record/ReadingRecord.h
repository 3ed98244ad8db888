// One dispatched reading as a record for other programs: a CSV row (the readings journal, the
// logger's --format csv) or a JSON object on one line (the logger's --format jsonl).
//
// CSV follows RFC 4180: UTF-8, CRLF line ends, a header line, fields quoted when they hold a
// comma, a quote or a line break. Columns:
//
//   DateTime   local date and time, ISO 8601 with milliseconds and UTC offset
//   Index, Value, Type, Time
//              the readings table's four texts, exactly as the table shows them
//   Number     the value at full precision (shortest text that reads back to the same double),
//              empty for an overload
#pragma once

#include "decode/Format.h"
#include "decode/Reading.h"
#include "decode/WallClock.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelvox {

// 2026-12-08T10:42:06.123+01:00 (Z is never used, so the offset is always explicit).
std::string FormatIsoDateTime(const WallTime& t);
// 2026-12-08T10-42-06: the same moment as a file name (no colons).
std::string FormatFileStamp(const WallTime& t);
// The moment and offset of a text FormatIsoDateTime wrote; false for any other text.
bool ParseIsoDateTime(std::string_view text, WallTime& t);

// The table's four texts of a row, in UTF-8.
struct TableTexts {
    std::string index, value, type, time;
};

// The texts the readings table shows for the row at index holding reading r, added at t.
TableTexts MakeTableTexts(int index, const Reading& r, const WallTime& t);

// One dispatched reading, as the session hands it to every observer (the readings table, the
// journal, the publisher): one value, made once, that no observer has to take back out of
// another's texts.
struct DispatchedReading {
    int run = 0;      // the run of the table it belongs to: a new run begins at each RESET
    int index = 0;    // the table's Index
    WallTime at;      // the moment of the dispatch
    Reading reading;  // what the meter showed
    TableTexts texts; // the table's texts for the row, in UTF-8
};

DispatchedReading MakeDispatchedReading(int run, int index, const WallTime& at, const Reading& r);

// The shortest decimal text that reads back as v ("1.234", "-0", "1e-05"); never locale-dependent.
std::string FormatFullPrecision(double v);

// The CSV header line, CRLF included.
const std::string& CsvHeader();
// One CSV row, CRLF included.
std::string CsvLine(const DispatchedReading& d);

// One JSON object and a line feed:
// {"time":"...","value":1.234,"overload":0,"text":"1.234","function":"DCV V","unit":"V"}
// value is null and overload is 1 or -1 (the sign shown) for an overload.
std::string JsonLine(const WallTime& at, const Reading& r);

// Appends s to out as a JSON string (quoted, escaped); UTF-8 passes through.
void AppendJsonString(std::string& out, std::string_view s);

// Splits one CSV line (without its line end) into fields. False when the line is not well
// formed: an unterminated quoted field (a torn last line), or stray text after a closing quote.
bool ParseCsvLine(std::string_view line, std::vector<std::string>& fields);

// Splits CSV text into records (quoted fields may hold line breaks). A record cut off by the end
// of the text (no line end after it, or an open quote) is not returned; *torn is set then.
// Malformed records in the middle are skipped and counted in *malformed.
std::vector<std::vector<std::string>> ParseCsv(std::string_view text, bool* torn = nullptr,
                                               int* malformed = nullptr);

// Writes the whole of `s` to fd, going on after a signal interrupts the write, so a record
// line is never left half written by EINTR. On failure *error holds errno (EIO for a write that
// took nothing).
bool WriteAll(int fd, std::string_view s, int* error);

} // namespace zelvox
