// The journal row codec: the one place where a reading becomes a journal line and a journal line
// becomes a reading again, and where both become the JSON that leaves the program.
//
//   DispatchedReading ─CsvLine─▶ journal line ─ReadJournalLine─▶ JournalRow ─BrokerMessage─▶ JSON
//
// Every reader of a journal (the loader, the publisher's outbox, the tools) reads its lines with
// ReadJournalLine and nothing else, so every reader takes the same rows and passes over the same
// damage. A line is one row: the writer never puts a line break inside a field, so a line break
// inside quotes, an unclosed quote or a line longer than kMaxRowBytes costs that line alone.
//
// A line is taken as a row only when every field checks: an instant as FormatIsoDateTime writes
// it, an Index of digits within kMaxRowIndex, a Value text the table would show for the Number
// (or an overload's text and no Number), a finite Number the meter can show, a Type label the
// decoder knows, and the table's Time text of the instant.
//
// CSV follows RFC 4180: UTF-8, CRLF line ends, a header line, fields quoted when they hold a
// comma or a quote (no text of a row holds a line break). Columns:
//
//   DateTime   local date and time, ISO 8601 with milliseconds and UTC offset
//   Index, Value, Type, Time
//              the readings table's four texts, exactly as the table shows them
//   Number     the value at full precision (shortest text that reads back to the same double),
//              empty for an overload
#pragma once

#include "record/ReadingRecord.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace zelvox {

// No row the journal writes comes near this; a longer line is damage (or not a journal at all).
inline constexpr std::size_t kMaxRowBytes = 512;
// The largest Index a row may carry: every Index up to it is a JSON number any consumer reads
// exactly (2^53 - 1), and far more readings than any run can hold.
inline constexpr std::int64_t kMaxRowIndex = (std::int64_t(1) << 53) - 1;

// One checked row of a journal: its reading, the moment of its dispatch (from which the table
// makes the same Value, Type and Time texts again) and its Index.
struct JournalRow {
    Reading reading;
    WallTime at;
    std::int64_t index = 0;
};

// The CSV header line, CRLF included.
const std::string& CsvHeader();
// One CSV row, CRLF included.
std::string CsvLine(const DispatchedReading& d);

enum class LineKind {
    Row,     // a reading: row holds it
    Header,  // the journal's header line (a byte order mark before it allowed)
    Blank,   // an empty line
    Damaged, // anything else
};

// Reads one journal line, without its line feed (a carriage return before it is allowed).
LineKind ReadJournalLine(std::string_view line, JournalRow& row);

// The function code whose label the table shows as label, or -1.
int FunctionCodeOfLabel(std::string_view label);

// One JSON object and a line feed:
// {"time":"...","value":1.234,"overload":0,"text":"1.234","function":"DCV V","unit":"V"}
// value is null and overload is 1 or -1 (the sign shown) for an overload.
std::string JsonLine(const WallTime& at, const Reading& r);

// The line formats of the headless logger: text, csv (the journal's rows) and jsonl.
enum class RecordFormat { Text, Csv, Jsonl };
// "text", "csv" or "jsonl"; false for any other name.
bool ParseRecordFormat(std::string_view name, RecordFormat& format);
// value (%.17g, to compare bit for bit), point position, function code, function label and the
// table's Value text, tab-separated, and a line feed.
std::string TextLine(const Reading& r);
// The line of d in format (the CSV header is not part of it).
std::string RecordLine(RecordFormat format, const DispatchedReading& d);

// The message published for a journal row: the fields of JsonLine followed by "run" (the
// journal's run id) and "index", without a line end.
void BrokerMessage(const JournalRow& row, std::string_view run, std::string& message);

// One line of an events file, NAME.events.csv beside the journal NAME.csv: an alarm rule that
// went firing or back to ok, or a note the user wrote on the run. The same CSV rules as the
// journal's rows; columns:
//
//   DateTime   the event's instant, ISO 8601 with milliseconds and UTC offset
//   Index      the Index of the row that carries it (the row dispatched at or after it)
//   Rule       the rule's name (letters, digits, '_' and '-'); for a note, its text (UTF-8, no
//              control character, at most kMaxNoteText bytes)
//   State      firing, ok or note
//   Value      the table's Value text of the reading then, empty without one (silent, unplugged);
//              for a note over a span, the span's length in seconds with milliseconds ("90.250"),
//              empty for a note at an instant
//   Unit       the unit label of that reading, empty without one; "s" for a note over a span
struct EventRow {
    WallTime at;
    std::int64_t index = 0;
    std::string rule;
    bool firing = false;
    std::string value, unit;
    bool note = false; // a note: rule holds its text, value its span's length
};

inline constexpr std::size_t kMaxNoteText = 200;
// A note's text as an events row keeps it: control characters become spaces, the ends are
// trimmed and the text is cut (on a character) to kMaxNoteText bytes.
std::string NoteText(std::string_view text);
// A note at `at` (over lengthMs milliseconds from there when it is positive), carried by index.
EventRow NoteRow(const WallTime& at, std::int64_t index, std::string_view text, std::int64_t lengthMs = 0);
// A note's span length in milliseconds (0 for an instant, or for any other row).
std::int64_t NoteLengthMs(const EventRow& row);

inline constexpr std::size_t kMaxAlarmName = 64;
// A character a rule's name may hold.
constexpr bool IsAlarmNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// The events file's header line, CRLF included.
const std::string& EventsCsvHeader();
// One events row, CRLF included.
std::string EventCsvLine(const EventRow& row);
// Reads one events line, without its line feed: a Row only when every field checks (an
// instant, an Index within kMaxRowIndex, a rule's name, a state, a Value text the table can
// show and a unit label the meter has, or both empty).
LineKind ReadEventLine(std::string_view line, EventRow& row);

// Reads a retained alarm state, {"state":"firing","since":"...","value":4.5,"unit":"V",
// "rule":"above 4.2 V"} (value null without a reading), into a row named rule (the topic's last
// level); its Value is the number as sent (at most 3 decimals kept), Index 0.
bool ReadAlarmMessage(std::string_view message, std::string_view rule, EventRow& row);

// Reads a message BrokerMessage wrote back into its row and run: every field must be there and
// check as a journal row's do (the text the Number is shown as, a known function, an instant).
bool ReadBrokerMessage(std::string_view message, JournalRow& row, std::string& run);

// Appends s to out as a JSON string (quoted, escaped, control characters as \u00XX); UTF-8
// passes through.
void AppendJsonString(std::string& out, std::string_view s);

} // namespace zelvox
