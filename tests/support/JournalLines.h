// One table of journal lines, good and damaged, with what the row codec makes of each. Every
// reader of a journal (the codec itself, the loader, the publisher) is tested against the same
// table: a line the codec takes is a row for every reader, any other line costs that line alone.
#pragma once

#include "record/RowCodec.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zelvox::testing {

struct JournalLine {
    const char* name;
    std::string line; // without its line end
    LineKind kind;
    std::int64_t index = -1; // the Index of a row the codec takes
};

// A good row as the journal writes it, without its CRLF: Index `index`, `index` half-seconds
// after 2026-12-08 10:42:06.123 UTC at UTC+01:00.
inline std::string GoodLine(std::int64_t index, const Reading& r = {1.234, 1, 1}) {
    const WallTime at = WallTimeAt(1796726526123 + (index % 100000) * 500, 3600);
    std::string line = CsvLine(MakeDispatchedReading(1, index, at, r));
    line.resize(line.size() - 2);
    return line;
}

// The line with field `field` (0..5) replaced by `text`, taken as it is (no quoting).
inline std::string WithField(std::string line, int field, const std::string& text) {
    std::size_t begin = 0;
    for (int i = 0; i < field; ++i)
        begin = line.find(',', begin) + 1;
    const std::size_t end = line.find(',', begin);
    return line.replace(begin, (end == std::string::npos ? line.size() : end) - begin, text);
}

// Every field of the line in quotes, as spreadsheet programs save CSV.
inline std::string AllQuoted(const std::string& line) {
    std::string quoted = "\"";
    for (char c : line)
        quoted += c == ',' ? std::string("\",\"") : std::string(1, c);
    return quoted + "\"";
}

inline std::vector<JournalLine> JournalLineTable() {
    const std::string good = GoodLine(1);
    return {
        {"header", "DateTime,Index,Value,Type,Time,Number", LineKind::Header},
        {"header after a byte order mark",
         "\xEF\xBB\xBF"
         "DateTime,Index,Value,Type,Time,Number",
         LineKind::Header},
        {"blank", "", LineKind::Blank},
        {"a row", GoodLine(1), LineKind::Row, 1},
        {"a row with its CR", GoodLine(2) + "\r", LineKind::Row, 2},
        {"an overload", GoodLine(3, {kOverload, 0, 12}), LineKind::Row, 3},
        {"a negative overload", GoodLine(4, {-kOverload, 0, 23}), LineKind::Row, 4},
        {"every field quoted", AllQuoted(GoodLine(5, {-0.5, 2, 6})), LineKind::Row, 5},
        {"the largest Index", GoodLine(kMaxRowIndex), LineKind::Row, kMaxRowIndex},
        {"an Index past the largest", WithField(GoodLine(6), 1, "9007199254740992"), LineKind::Damaged},
        {"a negative Index", WithField(good, 1, "-1"), LineKind::Damaged},
        {"an Index with a leading zero", WithField(good, 1, "01"), LineKind::Damaged},
        {"an Index that is no number", WithField(good, 1, "x1"), LineKind::Damaged},
        {"Number nan", WithField(good, 5, "nan"), LineKind::Damaged},
        {"Number inf", WithField(good, 5, "inf"), LineKind::Damaged},
        {"Number -inf", WithField(good, 5, "-inf"), LineKind::Damaged},
        {"Number 1e300", WithField(WithField(good, 2, "2147483647"), 5, "1e300"), LineKind::Damaged},
        {"a Number the Value text disagrees with", WithField(good, 5, "1.235"), LineKind::Damaged},
        {"a Value text with four decimals", WithField(good, 2, "1.2340"), LineKind::Damaged},
        {"an overload with a Number", GoodLine(7, {kOverload, 0, 12}) + "1", LineKind::Damaged},
        {"a Type no function has", WithField(good, 3, "DCV W"), LineKind::Damaged},
        {"a Time of another moment", WithField(good, 4, "11:42:06:124"), LineKind::Damaged},
        {"a sign inside the instant", WithField(good, 0, good.substr(0, 5) + "+2" + good.substr(7, 22)),
         LineKind::Damaged},
        {"an instant without its offset", WithField(good, 0, "2026-12-08T11:42:06.623"), LineKind::Damaged},
        {"an unclosed quote", WithField(good, 1, "\"1"), LineKind::Damaged},
        {"text after a closing quote", WithField(good, 3, "\"DCV V\"x"), LineKind::Damaged},
        {"a quote inside a bare field", WithField(good, 3, "DCV\"V"), LineKind::Damaged},
        {"half a line break in quotes", WithField(good, 3, "\"DC\r"), LineKind::Damaged},
        {"five fields", good.substr(0, good.rfind(',')), LineKind::Damaged},
        {"seven fields", good + ",", LineKind::Damaged},
        {"zero bytes", std::string(40, '\0'), LineKind::Damaged},
        {"a byte order mark before a row", "\xEF\xBB\xBF" + GoodLine(8), LineKind::Damaged},
        {"longer than any row", WithField(good, 3, "\"" + std::string(600, ' ') + "\""), LineKind::Damaged},
    };
}

// A journal: the header, then every row and damaged line of the table (one line each), then a
// line of 70,000 bytes and a last good row, Index 9.
inline std::string JournalOfTable() {
    std::string text = CsvHeader();
    for (const JournalLine& l : JournalLineTable())
        if (l.kind != LineKind::Header)
            text += l.line + (l.line.ends_with('\r') ? "\n" : "\r\n");
    text += std::string(70000, 'x') + "\r\n";
    text += GoodLine(9) + "\r\n";
    return text;
}

} // namespace zelvox::testing
