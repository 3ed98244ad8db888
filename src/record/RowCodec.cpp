#include "record/RowCodec.h"

#include "decode/Labels.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>

namespace zelvox {

namespace {

constexpr std::size_t kFields = 6;
constexpr std::array<std::string_view, kFields> kFieldNames = {"DateTime", "Index", "Value",
                                                               "Type",     "Time",  "Number"};

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

// The six fields of a line, unquoted. Bare fields are views into the line; quoted ones are
// unquoted into `scratch`, which is sized up front so that no view into it ever moves.
struct Fields {
    std::array<std::string_view, kFields> at{};
    std::string scratch;
};

// False when the line does not split into exactly six well-formed fields: an unclosed quote,
// text after a closing quote, a quote inside a bare field, a line break or a zero byte.
bool SplitFields(std::string_view line, Fields& f) {
    f.scratch.clear();
    f.scratch.reserve(line.size());
    std::size_t count = 0;
    std::size_t pos = 0;
    for (;;) {
        if (count == kFields)
            return false;
        if (pos < line.size() && line[pos] == '"') {
            const std::size_t begin = f.scratch.size();
            for (++pos;; ++pos) {
                if (pos >= line.size())
                    return false;
                const char c = line[pos];
                if (c == '"') {
                    if (pos + 1 < line.size() && line[pos + 1] == '"') {
                        f.scratch += '"';
                        ++pos;
                        continue;
                    }
                    ++pos;
                    break;
                }
                if (c == '\r' || c == '\n' || c == '\0')
                    return false;
                f.scratch += c;
            }
            if (pos < line.size() && line[pos] != ',')
                return false;
            f.at[count++] = std::string_view(f.scratch).substr(begin);
        } else {
            const std::size_t begin = pos;
            while (pos < line.size() && line[pos] != ',') {
                const char c = line[pos];
                if (c == '"' || c == '\r' || c == '\n' || c == '\0')
                    return false;
                ++pos;
            }
            f.at[count++] = line.substr(begin, pos - begin);
        }
        if (pos >= line.size())
            return count == kFields;
        ++pos; // the comma
    }
}

// An Index: decimal digits without a sign or leading zeros, at most kMaxRowIndex.
bool ParseIndex(std::string_view s, std::int64_t& index) {
    if (s.empty() || s.size() > 16 || (s.size() > 1 && s[0] == '0'))
        return false;
    std::int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v > kMaxRowIndex)
        return false;
    index = v;
    return true;
}

// The reading behind a Value text and its full-precision Number: the point position follows from
// the decimals shown ("1.234", three: position 1). The Number must be finite and within what the
// meter can show; an overload has none.
bool ParseReading(std::string_view text, std::string_view number, Reading& r) {
    if (text == "0L" || text == "-0L") {
        r.value = text[0] == '-' ? -kOverload : kOverload;
        r.pointPosition = 0;
        return number.empty();
    }
    const std::size_t dot = text.find('.');
    const std::size_t decimals = dot == std::string_view::npos ? 0 : text.size() - dot - 1;
    if (decimals > 3 || text.empty() || number.empty())
        return false;
    r.pointPosition = static_cast<std::uint8_t>(decimals == 0 ? 0 : 4 - decimals);
    const auto res = std::from_chars(number.data(), number.data() + number.size(), r.value);
    return res.ec == std::errc() && res.ptr == number.data() + number.size() && std::isfinite(r.value) &&
           std::fabs(r.value) < kOverload;
}

// The table's Value text for r is exactly `text`.
bool ShownAs(const Reading& r, std::string_view text) {
    ValueChars buf;
    return FormatTableValueChars(r.value, r.pointPosition, buf) == text;
}

// The Time text is the local time of day of the DateTime beside it, HH:MM:SS:mmm: the same
// digits, as ParseIsoDateTime has checked them.
bool TimeOfDayOf(std::string_view dateTime, std::string_view time) {
    return time.size() == 12 && time.substr(0, 8) == dateTime.substr(11, 8) && time[8] == ':' &&
           time.substr(9, 3) == dateTime.substr(20, 3);
}

std::array<std::string, kFunctionCount>
InUtf8(const std::array<std::u16string_view, kFunctionCount>& labels) {
    std::array<std::string, kFunctionCount> utf8;
    for (std::size_t fc = 0; fc < kFunctionCount; ++fc)
        utf8[fc] = ToUtf8(labels[fc]);
    return utf8;
}

const std::array<std::string, kFunctionCount>& FunctionLabelsUtf8() {
    static const auto labels = InUtf8(functionLabels);
    return labels;
}

std::string_view FunctionLabel(int code) {
    return code >= 0 && code < kFunctionCount ? std::string_view(FunctionLabelsUtf8()[code])
                                              : std::string_view();
}

std::string_view UnitLabel(int code) {
    static const auto labels = InUtf8(unitLabels);
    return code >= 0 && code < kFunctionCount ? std::string_view(labels[code]) : std::string_view();
}

// The JSON fields every reading carries, from "{" to the unit, without the closing brace.
void AppendReadingJson(std::string& out, const WallTime& at, const Reading& r) {
    out += "{\"time\":\"";
    out += FormatIsoDateTime(at);
    out += "\",\"value\":";
    const bool overload = IsOverload(r.value);
    // JSON has no NaN or infinity; the decoder never makes them, but a value must stay valid JSON.
    out += overload || !std::isfinite(r.value) ? std::string("null") : FormatFullPrecision(r.value);
    out += ",\"overload\":";
    out += !overload ? "0" : (r.value > 0 ? "1" : "-1");
    out += ",\"text\":";
    AppendJsonString(out, ToUtf8(FormatTableValue(r.value, r.pointPosition)));
    out += ",\"function\":";
    AppendJsonString(out, FunctionLabel(r.functionCode));
    out += ",\"unit\":";
    AppendJsonString(out, UnitLabel(r.functionCode));
}

constexpr std::array<std::string_view, kFields> kEventFieldNames = {"DateTime", "Index", "Rule",
                                                                    "State",    "Value", "Unit"};

std::string_view AlarmStateName(bool firing) {
    return firing ? "firing" : "ok";
}

// A Value text the table can show: empty, an overload's, or digits with at most 3 decimals.
bool IsValueText(std::string_view s) {
    if (s.empty() || s == "0L" || s == "-0L")
        return true;
    if (s.starts_with('-'))
        s.remove_prefix(1);
    const std::size_t dot = s.find('.');
    const std::string_view whole = s.substr(0, dot);
    const std::string_view decimals = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
    const auto digits = [](std::string_view d) {
        return std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return !whole.empty() && whole.size() <= 10 && digits(whole) && digits(decimals) &&
           (dot == std::string_view::npos || (!decimals.empty() && decimals.size() <= 3));
}

// A note's text: what NoteText leaves of a text, never empty.
bool IsNoteText(std::string_view s) {
    return !s.empty() && s.size() <= kMaxNoteText && s.front() != ' ' && s.back() != ' ' &&
           std::none_of(s.begin(), s.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// A note's span in seconds: digits, a dot and exactly three decimals.
bool IsSecondsText(std::string_view s) {
    const std::size_t dot = s.find('.');
    const auto digits = [](std::string_view d) {
        return !d.empty() && std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return dot != std::string_view::npos && dot <= 12 && digits(s.substr(0, dot)) && s.size() == dot + 4 &&
           digits(s.substr(dot + 1));
}

bool IsUnitLabel(std::string_view s) {
    for (int fc = 0; fc < kFunctionCount; ++fc)
        if (!UnitLabel(fc).empty() && UnitLabel(fc) == s)
            return true;
    return false;
}

} // namespace

const std::string& CsvHeader() {
    static const std::string header = "DateTime,Index,Value,Type,Time,Number\r\n";
    return header;
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

int FunctionCodeOfLabel(std::string_view label) {
    const auto& labels = FunctionLabelsUtf8();
    for (std::size_t fc = 0; fc < labels.size(); ++fc)
        if (labels[fc] == label)
            return static_cast<int>(fc);
    return -1;
}

// What every CSV line read here goes through before its fields: a CR dropped, a blank or too long
// line, a byte order mark, the split, the header. Nothing when the line's fields are to be read.
static std::optional<LineKind>
SplitLine(std::string_view line, const std::array<std::string_view, kFields>& header, Fields& f, bool& bom) {
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    if (line.empty())
        return LineKind::Blank;
    if (line.size() > kMaxRowBytes)
        return LineKind::Damaged;
    bom = line.starts_with("\xEF\xBB\xBF");
    if (!SplitFields(bom ? line.substr(3) : line, f))
        return LineKind::Damaged;
    if (f.at == header)
        return LineKind::Header;
    return std::nullopt;
}

LineKind ReadJournalLine(std::string_view line, JournalRow& row) {
    thread_local Fields f;
    bool bom = false;
    if (const auto kind = SplitLine(line, kFieldNames, f, bom))
        return *kind;
    if (bom)
        return LineKind::Damaged;
    JournalRow r;
    if (!ParseIndex(f.at[1], r.index) || !ParseReading(f.at[2], f.at[5], r.reading) ||
        !ParseIsoDateTime(f.at[0], r.at))
        return LineKind::Damaged;
    const int code = FunctionCodeOfLabel(f.at[3]);
    if (code < 0)
        return LineKind::Damaged;
    r.reading.functionCode = static_cast<std::uint8_t>(code);
    // The texts the table will show must be the ones in the file.
    if (!ShownAs(r.reading, f.at[2]) || !TimeOfDayOf(f.at[0], f.at[4]))
        return LineKind::Damaged;
    row = r;
    return LineKind::Row;
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

const std::string& EventsCsvHeader() {
    static const std::string header = "DateTime,Index,Rule,State,Value,Unit\r\n";
    return header;
}

std::string EventCsvLine(const EventRow& row) {
    std::string line = FormatIsoDateTime(row.at);
    line += ',';
    line += std::to_string(row.index);
    for (std::string_view field :
         {std::string_view(row.rule), row.note ? std::string_view("note") : AlarmStateName(row.firing),
          std::string_view(row.value), std::string_view(row.unit)}) {
        line += ',';
        AppendCsvField(line, field);
    }
    line += "\r\n";
    return line;
}

LineKind ReadEventLine(std::string_view line, EventRow& row) {
    thread_local Fields f;
    bool bom = false;
    if (const auto kind = SplitLine(line, kEventFieldNames, f, bom))
        return *kind;
    EventRow r;
    const std::string_view name = f.at[2], state = f.at[3], value = f.at[4], unit = f.at[5];
    r.note = state == "note";
    const bool named = r.note ? IsNoteText(name)
                              : !name.empty() && name.size() <= kMaxAlarmName &&
                                    std::all_of(name.begin(), name.end(), IsAlarmNameChar);
    const bool valued = r.note ? (value.empty() && unit.empty()) || (IsSecondsText(value) && unit == "s")
                               : IsValueText(value) && (!value.empty() || unit.empty()) &&
                                     (unit.empty() || IsUnitLabel(unit));
    if (bom || !ParseIsoDateTime(f.at[0], r.at) || !ParseIndex(f.at[1], r.index) || !named ||
        (state != "firing" && state != "ok" && !r.note) || !valued)
        return LineKind::Damaged;
    r.rule = name;
    r.firing = state == "firing";
    r.value = value;
    r.unit = unit;
    row = std::move(r);
    return LineKind::Row;
}

std::string NoteText(std::string_view text) {
    std::string out;
    for (const char c : text)
        out += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? ' ' : c;
    const auto first = out.find_first_not_of(' ');
    out.erase(0, first == std::string::npos ? out.size() : first);
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    if (out.size() > kMaxNoteText) {
        std::size_t cut = kMaxNoteText;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
            --cut; // not inside a UTF-8 sequence
        out.resize(cut);
    }
    return out;
}

EventRow NoteRow(const WallTime& at, std::int64_t index, std::string_view text, std::int64_t lengthMs) {
    EventRow row;
    row.at = at;
    row.index = index;
    row.rule = NoteText(text);
    row.note = true;
    if (lengthMs > 0) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%lld.%03lld", static_cast<long long>(lengthMs / 1000),
                      static_cast<long long>(lengthMs % 1000));
        row.value = buffer;
        row.unit = "s";
    }
    return row;
}

std::int64_t NoteLengthMs(const EventRow& row) {
    if (!row.note || row.value.empty())
        return 0;
    const std::size_t dot = row.value.find('.');
    std::int64_t whole = 0, thousandths = 0;
    std::from_chars(row.value.data(), row.value.data() + dot, whole);
    std::from_chars(row.value.data() + dot + 1, row.value.data() + row.value.size(), thousandths);
    return whole * 1000 + thousandths;
}

std::string JsonLine(const WallTime& at, const Reading& r) {
    std::string line;
    line.reserve(128);
    AppendReadingJson(line, at, r);
    line += "}\n";
    return line;
}

bool ParseRecordFormat(std::string_view name, RecordFormat& format) {
    if (name == "text")
        format = RecordFormat::Text;
    else if (name == "csv")
        format = RecordFormat::Csv;
    else if (name == "jsonl")
        format = RecordFormat::Jsonl;
    else
        return false;
    return true;
}

std::string TextLine(const Reading& r) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g\t%u\t%u\t", r.value, unsigned(r.pointPosition),
                  unsigned(r.functionCode));
    std::string line = buf;
    line += FunctionLabel(r.functionCode);
    line += '\t';
    line += ToUtf8(FormatTableValue(r.value, r.pointPosition));
    line += '\n';
    return line;
}

std::string RecordLine(RecordFormat format, const DispatchedReading& d) {
    switch (format) {
    case RecordFormat::Text:
        return TextLine(d.reading);
    case RecordFormat::Csv:
        return CsvLine(d);
    case RecordFormat::Jsonl:
        return JsonLine(d.at, d.reading);
    }
    return {};
}

void BrokerMessage(const JournalRow& row, std::string_view run, std::string& message) {
    message.clear();
    AppendReadingJson(message, row.at, row.reading);
    message += ",\"run\":";
    AppendJsonString(message, run);
    message += ",\"index\":";
    message += std::to_string(row.index);
    message += '}';
}

namespace {

// A JSON string at s[at] (after its opening quote), unescaped into out; at ends after the quote.
bool JsonString(std::string_view s, std::size_t& at, std::string& out) {
    out.clear();
    while (at < s.size()) {
        const char c = s[at++];
        if (c == '"')
            return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (at >= s.size())
            return false;
        const char e = s[at++];
        if (e == 'u') {
            unsigned code = 0;
            if (at + 4 > s.size() ||
                std::from_chars(s.data() + at, s.data() + at + 4, code, 16).ptr != s.data() + at + 4)
                return false;
            at += 4;
            if (code >= 0x80)
                return false; // AppendJsonString escapes only control characters
            out += static_cast<char>(code);
        } else {
            const std::string_view from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
            const std::size_t k = from.find(e);
            if (k == std::string_view::npos)
                return false;
            out += to[k];
        }
    }
    return false;
}

// The members of one flat JSON object, each handed to take(key, quoted, text) in order: a
// string unescaped, any other value as its bare text. False when m is not such an object.
template <typename Take> bool ReadJsonObject(std::string_view m, Take take) {
    std::string key, str;
    std::size_t at = 0;
    const auto skipSpace = [&] {
        while (at < m.size() && (m[at] == ' ' || m[at] == '\t' || m[at] == '\r' || m[at] == '\n'))
            ++at;
    };
    skipSpace();
    if (at >= m.size() || m[at++] != '{')
        return false;
    for (;;) {
        skipSpace();
        if (at >= m.size() || m[at++] != '"' || !JsonString(m, at, key))
            return false;
        skipSpace();
        if (at >= m.size() || m[at++] != ':')
            return false;
        skipSpace();
        if (at < m.size() && m[at] == '"') {
            ++at;
            if (!JsonString(m, at, str))
                return false;
            take(key, true, str);
        } else {
            const std::size_t begin = at;
            while (at < m.size() && m[at] != ',' && m[at] != '}' && m[at] != ' ')
                ++at;
            take(key, false, std::string(m.substr(begin, at - begin)));
        }
        skipSpace();
        if (at < m.size() && m[at] == ',') {
            ++at;
            continue;
        }
        if (at < m.size() && m[at] == '}')
            return true;
        return false;
    }
}

} // namespace

bool ReadAlarmMessage(std::string_view m, std::string_view rule, EventRow& row) {
    std::string state, since, value, unit;
    const bool object = ReadJsonObject(m, [&](const std::string& key, bool quoted, const std::string& text) {
        if (key == "state" && quoted)
            state = text;
        else if (key == "since" && quoted)
            since = text;
        else if (key == "value" && !quoted)
            value = text;
        else if (key == "unit" && quoted)
            unit = text;
    });
    EventRow r;
    if (!object || (state != "firing" && state != "ok") || !ParseIsoDateTime(since, r.at) || rule.empty() ||
        rule.size() > kMaxAlarmName || !std::all_of(rule.begin(), rule.end(), IsAlarmNameChar) ||
        (!unit.empty() && !IsUnitLabel(unit)))
        return false;
    double number = 0;
    if (value != "null" && !value.empty()) {
        if (std::from_chars(value.data(), value.data() + value.size(), number).ptr !=
                value.data() + value.size() ||
            !std::isfinite(number) || std::abs(number) >= 1e10)
            return false;
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "%.3f", number);
        std::string text = buffer;
        while (text.ends_with('0'))
            text.pop_back();
        if (text.ends_with('.'))
            text.pop_back();
        r.value = text == "-0" ? "0" : text;
    }
    if (r.value.empty())
        unit.clear();
    r.rule = rule;
    r.firing = state == "firing";
    r.unit = unit;
    row = std::move(r);
    return true;
}

bool ReadBrokerMessage(std::string_view m, JournalRow& row, std::string& run) {
    std::string time, text, function, value, overload, index;
    bool haveRun = false;
    const bool object = ReadJsonObject(m, [&](const std::string& key, bool quoted, const std::string& s) {
        if (!quoted) {
            if (key == "value")
                value = s;
            else if (key == "overload")
                overload = s;
            else if (key == "index")
                index = s;
        } else if (key == "time")
            time = s;
        else if (key == "text")
            text = s;
        else if (key == "function")
            function = s;
        else if (key == "run") {
            run = s;
            haveRun = true;
        }
    });
    if (!object)
        return false;
    JournalRow r;
    const bool over = overload == "1" || overload == "-1";
    if (!haveRun || !ParseIndex(index, r.index) || !ParseIsoDateTime(time, r.at) ||
        (overload != "0" && !over) || (over != (value == "null")) ||
        !ParseReading(text, over ? std::string_view() : std::string_view(value), r.reading))
        return false;
    const int code = FunctionCodeOfLabel(function);
    if (code < 0 || (!over && !ShownAs(r.reading, text)) || (over && (overload == "-1") != (text == "-0L")))
        return false;
    r.reading.functionCode = static_cast<std::uint8_t>(code);
    row = r;
    return true;
}

} // namespace zelvox
