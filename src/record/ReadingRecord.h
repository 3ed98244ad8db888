// One dispatched reading as a record for other programs, and the texts and times it is made of.
// Its rows and JSON are made and read back by the row codec (record/RowCodec.h).

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
TableTexts MakeTableTexts(std::int64_t index, const Reading& r, const WallTime& t);

// One dispatched reading, as the session hands it to every observer (the readings table, the
// journal, the publisher): one value, made once, that no observer has to take back out of
// another's texts.
struct DispatchedReading {
    int run = 0;            // the run of the table it belongs to: a new run begins at each RESET
    std::int64_t index = 0; // the table's Index
    WallTime at;            // the moment of the dispatch
    Reading reading;        // what the meter showed
    TableTexts texts;       // the table's texts for the row, in UTF-8
};

DispatchedReading MakeDispatchedReading(int run, std::int64_t index, const WallTime& at, const Reading& r);

// The shortest decimal text that reads back as v ("1.234", "-0", "1e-05"); never locale-dependent.
std::string FormatFullPrecision(double v);

// Writes the whole of `s` to fd, going on after a signal interrupts the write, so a record
// line is never left half written by EINTR. On failure *error holds errno (EIO for a write that
// took nothing).
bool WriteAll(int fd, std::string_view s, int* error);

} // namespace zelvox
