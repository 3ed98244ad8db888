#include "alarm/AlarmRule.h"

#include "decode/FunctionCode.h"
#include "record/RowCodec.h"

#include <charconv>
#include <cmath>

namespace zelvox {

namespace {

enum class Quantity : std::uint8_t {
    None,
    Volt,
    Ampere,
    Ohm,
    Farad,
    Hertz,
    Celsius,
    Fahrenheit,
    Percent,
    Millisecond,
    Degree,
    Rpm
};

struct Measure {
    Quantity quantity;
    double scale; // the function's unit in the quantity's base unit
};

// What each function measures, by function code.
constexpr std::array<Measure, kFunctionCount> kMeasures = {{
    {Quantity::None, 1},       {Quantity::Volt, 1},        {Quantity::Volt, 1e-3},   {Quantity::Volt, 1},
    {Quantity::Volt, 1e-3},    {Quantity::Ampere, 1},      {Quantity::Ampere, 1e-3}, {Quantity::Ampere, 1e-6},
    {Quantity::Ampere, 1},     {Quantity::Ampere, 1e-3},   {Quantity::Ampere, 1e-6}, {Quantity::Ohm, 1},
    {Quantity::Ohm, 1e3},      {Quantity::Ohm, 1e6},       {Quantity::Farad, 1e-9},  {Quantity::Farad, 1e-6},
    {Quantity::Farad, 1e-3},   {Quantity::Hertz, 1},       {Quantity::Hertz, 1e3},   {Quantity::Hertz, 1e6},
    {Quantity::Percent, 1},    {Quantity::Volt, 1},        {Quantity::Ohm, 1},       {Quantity::Celsius, 1},
    {Quantity::Fahrenheit, 1}, {Quantity::Millisecond, 1}, {Quantity::Degree, 1},    {Quantity::Rpm, 1e3},
}};
static_assert(kMeasures[kDiode].quantity == Quantity::Volt && kMeasures[kKiloRpm].scale == 1e3);

struct Base {
    std::string_view text;
    Quantity quantity;
    bool prefixed; // takes n, µ, m, k and M
};

constexpr Base kBases[] = {
    {"V", Quantity::Volt, true},
    {"A", Quantity::Ampere, true},
    {"\u03A9", Quantity::Ohm, true},
    {"\u2126", Quantity::Ohm, true},
    {"Ohm", Quantity::Ohm, true},
    {"ohm", Quantity::Ohm, true},
    {"F", Quantity::Farad, true},
    {"Hz", Quantity::Hertz, true},
    {"RPM", Quantity::Rpm, true},
    {"rpm", Quantity::Rpm, true},
    {"\u00B0C", Quantity::Celsius, false},
    {"\u2103", Quantity::Celsius, false},
    {"\u00B0F", Quantity::Fahrenheit, false},
    {"\u2109", Quantity::Fahrenheit, false},
    {"%", Quantity::Percent, false},
    {"\u00B0", Quantity::Degree, false},
    {"ms", Quantity::Millisecond, false},
};

struct Prefix {
    std::string_view text;
    double scale;
};

constexpr Prefix kPrefixes[] = {{"n", 1e-9}, {"\u00B5", 1e-6}, {"\u03BC", 1e-6}, {"u", 1e-6},
                                {"m", 1e-3}, {"k", 1e3},       {"K", 1e3},       {"M", 1e6}};

bool LookUpUnit(std::string_view text, Measure& unit) {
    for (const Base& b : kBases)
        if (text == b.text) {
            unit = {b.quantity, 1};
            return true;
        }
    for (const Prefix& p : kPrefixes)
        if (text.starts_with(p.text))
            for (const Base& b : kBases)
                if (b.prefixed && text.substr(p.text.size()) == b.text) {
                    unit = {b.quantity, p.scale};
                    return true;
                }
    return false;
}

constexpr double kMaxDurationMs = 1000.0 * 3600 * 1000; // 1000 h

struct Scanner {
    std::string_view s;
    std::size_t p = 0;
    AlarmRuleError* error;

    static bool Space(char c) { return c == ' ' || c == '\t'; }
    void SkipSpace() {
        while (p < s.size() && Space(s[p]))
            ++p;
    }
    bool AtEnd() {
        SkipSpace();
        return p >= s.size();
    }
    // The column of byte offset at, in characters (UTF-8 continuation bytes do not count).
    int ColumnOf(std::size_t at) const {
        int column = 1;
        for (std::size_t i = 0; i < at && i < s.size(); ++i)
            column += (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80;
        return column;
    }
    bool Fail(std::size_t at, std::string message) {
        if (error)
            *error = {0, ColumnOf(at), std::move(message)};
        return false;
    }
    // The run of non-space characters at p, not taken.
    std::string_view PeekWord() {
        SkipSpace();
        std::size_t end = p;
        while (end < s.size() && !Space(s[end]))
            ++end;
        return s.substr(p, end - p);
    }
    bool TakeWord(std::string_view word) {
        if (PeekWord() != word)
            return false;
        p += word.size();
        return true;
    }
    // digits[.digits], an optional sign before; no space is taken after it.
    bool Number(double& v) {
        SkipSpace();
        const std::size_t begin = p;
        std::size_t q = p;
        if (q < s.size() && (s[q] == '+' || s[q] == '-'))
            ++q;
        const auto digits = [&] {
            const std::size_t from = q;
            while (q < s.size() && s[q] >= '0' && s[q] <= '9')
                ++q;
            return q > from;
        };
        if (!digits())
            return Fail(begin, "a number is expected");
        if (q + 1 < s.size() && s[q] == '.' && s[q + 1] >= '0' && s[q + 1] <= '9') {
            ++q;
            digits();
        }
        const char* first = s.data() + begin + (s[begin] == '+');
        const auto r = std::from_chars(first, s.data() + q, v);
        if (r.ec != std::errc() || !std::isfinite(v))
            return Fail(begin, "a number is expected");
        p = q;
        return true;
    }
    // A unit right after a number ("4.2V") or after a space ("4.2 V"); found is false when
    // what follows is the end, "clear" or "for".
    bool OptionalUnit(Measure& unit, std::string& text, bool& found) {
        found = false;
        const bool joined = p < s.size() && !Space(s[p]) && !s.substr(p).starts_with("..");
        std::string_view word = PeekWord();
        if (!joined && (word.empty() || word == "clear" || word == "for" || word.starts_with("..")))
            return true;
        if (const std::size_t dots = word.find(".."); dots != std::string_view::npos)
            word = word.substr(0, dots);
        if (!LookUpUnit(word, unit))
            return Fail(p, "unknown unit \"" + std::string(word) + "\"");
        text = word;
        p += word.size();
        found = true;
        return true;
    }
    bool Duration(std::chrono::milliseconds& d) {
        SkipSpace();
        const std::size_t begin = p;
        double v = 0;
        if (!Number(v))
            return false;
        const std::string_view word = PeekWord();
        const double ms = word == "ms"    ? v
                          : word == "s"   ? v * 1000
                          : word == "min" ? v * 60000
                          : word == "h"   ? v * 3600000
                                          : -1;
        if (ms < 0 && v >= 0)
            return Fail(p, "a duration needs a unit: ms, s, min or h");
        if (ms <= 0 || std::llround(ms) <= 0)
            return Fail(begin, "a duration must be longer than 0");
        if (ms > kMaxDurationMs)
            return Fail(begin, "a duration must be at most 1000 h");
        p += word.size();
        d = std::chrono::milliseconds(std::llround(ms));
        return true;
    }
};

// A level (one number, or LOW..HIGH when band) and its unit.
bool Level(Scanner& in, bool band, double& low, double& high, Measure& unit, std::string& unitText,
           bool& hasUnit) {
    if (!in.Number(low))
        return false;
    high = low;
    if (band) {
        in.SkipSpace();
        if (!in.s.substr(in.p).starts_with(".."))
            return in.Fail(in.p, "\"..\" is expected between the two limits: LOW..HIGH");
        in.p += 2;
        const std::size_t at = in.p;
        if (!in.Number(high))
            return false;
        if (!(low < high))
            return in.Fail(at, "the high limit must be above the low limit");
    }
    return in.OptionalUnit(unit, unitText, hasUnit);
}

bool ParseCondition(Scanner& in, AlarmRule& rule, Measure& unit) {
    const std::size_t at = (in.SkipSpace(), in.p);
    const std::string_view word = in.PeekWord();
    static constexpr std::pair<std::string_view, AlarmCondition> kConditions[] = {
        {"above", AlarmCondition::Above},         {"below", AlarmCondition::Below},
        {"outside", AlarmCondition::Outside},     {"overload", AlarmCondition::Overload},
        {"silent", AlarmCondition::Silent},       {"unchanged", AlarmCondition::Unchanged},
        {"unplugged", AlarmCondition::Unplugged},
    };
    bool known = false;
    for (const auto& [text, condition] : kConditions)
        if (word == text) {
            rule.condition = condition;
            known = true;
        }
    if (!known)
        return in.Fail(at, (word.empty() ? std::string("a condition is expected")
                                         : "unknown condition \"" + std::string(word) + "\"") +
                               " (above, below, outside, overload, silent, unchanged or unplugged)");
    in.p += word.size();
    const AlarmCondition c = rule.condition;
    if (c != AlarmCondition::Above && c != AlarmCondition::Below && c != AlarmCondition::Outside)
        return true;
    bool hasUnit = false;
    if (!Level(in, c == AlarmCondition::Outside, rule.low, rule.high, unit, rule.unit, hasUnit))
        return false;
    if (!hasUnit)
        unit = {Quantity::None, 1};
    rule.clearLow = rule.low;
    rule.clearHigh = rule.high;
    return true;
}

bool ParseClear(Scanner& in, AlarmRule& rule, const Measure& unit) {
    const std::size_t at = in.p - 5; // "clear", just taken
    const AlarmCondition c = rule.condition;
    if (c != AlarmCondition::Above && c != AlarmCondition::Below && c != AlarmCondition::Outside)
        return in.Fail(at, "clear takes a level only after above, below or outside");
    double low = 0, high = 0;
    Measure clearUnit{Quantity::None, 1};
    std::string text;
    bool hasUnit = false;
    const std::size_t levelAt = (in.SkipSpace(), in.p);
    if (!Level(in, c == AlarmCondition::Outside, low, high, clearUnit, text, hasUnit))
        return false;
    if (hasUnit && (rule.unit.empty() || clearUnit.quantity != unit.quantity))
        return in.Fail(levelAt, rule.unit.empty() ? "a rule without a unit takes its clear level without one"
                                                  : "the clear level must be in a unit of " + rule.unit);
    const double k = hasUnit ? clearUnit.scale / unit.scale : 1.0;
    low *= k;
    high *= k;
    if (c == AlarmCondition::Above && !(low < rule.low))
        return in.Fail(levelAt, "the clear level of an above rule must be below its limit");
    if (c == AlarmCondition::Below && !(high > rule.high))
        return in.Fail(levelAt, "the clear level of a below rule must be above its limit");
    if (c == AlarmCondition::Outside && !(low >= rule.low && high <= rule.high))
        return in.Fail(levelAt, "the clear band of an outside rule must lie within its limits");
    rule.clearLow = c == AlarmCondition::Below ? rule.clearLow : low;
    rule.clearHigh = c == AlarmCondition::Above ? rule.clearHigh : high;
    rule.hasClear = true;
    return true;
}

std::string Collapsed(std::string_view s) {
    std::string out;
    bool space = false;
    for (char c : s) {
        if (Scanner::Space(c)) {
            space = !out.empty();
            continue;
        }
        if (space)
            out += ' ';
        space = false;
        out += c;
    }
    return out;
}

} // namespace

bool ParseAlarmRule(std::string_view text, AlarmRule& out, AlarmRuleError* error) {
    Scanner in{text, 0, error};
    AlarmRule rule;
    if (in.AtEnd())
        return in.Fail(0, "the rule is empty: NAME: CONDITION [clear LEVEL] [for DURATION]");
    const std::size_t nameAt = in.p;
    while (in.p < text.size() && text[in.p] != ':' && !Scanner::Space(text[in.p])) {
        if (!IsAlarmNameChar(text[in.p]))
            return in.Fail(in.p, "a rule's name is letters, digits, '_' and '-'");
        ++in.p;
    }
    rule.name = text.substr(nameAt, in.p - nameAt);
    in.SkipSpace();
    if (rule.name.empty() || in.p >= text.size() || text[in.p] != ':')
        return in.Fail(
            rule.name.empty() ? nameAt : in.p,
            "a rule begins with its name and a colon: NAME: CONDITION [clear LEVEL] [for DURATION]");
    if (rule.name.size() > kMaxAlarmName)
        return in.Fail(nameAt, "a rule's name is at most 64 characters");
    ++in.p;
    rule.text = Collapsed(text.substr(in.p));
    Measure unit{Quantity::None, 1};
    if (!ParseCondition(in, rule, unit))
        return false;
    if (in.TakeWord("clear") && !ParseClear(in, rule, unit))
        return false;
    const std::size_t forAt = (in.SkipSpace(), in.p);
    const bool hasFor = in.TakeWord("for");
    if (hasFor && !in.Duration(rule.holdFor))
        return false;
    if (!in.AtEnd())
        return in.Fail(in.p, "unexpected \"" + std::string(in.PeekWord()) + "\"");
    if (!hasFor && (rule.condition == AlarmCondition::Silent || rule.condition == AlarmCondition::Unchanged))
        return in.Fail(forAt, std::string(rule.condition == AlarmCondition::Silent ? "silent" : "unchanged") +
                                  " needs a duration: for 5s");
    for (std::size_t fc = 0; fc < kFunctionCount; ++fc)
        rule.scale[fc] = unit.quantity == Quantity::None           ? 1.0
                         : kMeasures[fc].quantity == unit.quantity ? kMeasures[fc].scale / unit.scale
                                                                   : 0.0;
    out = std::move(rule);
    return true;
}

bool ParseAlarmRules(std::string_view fileText, std::vector<AlarmRule>& rules, AlarmRuleError* error) {
    int line = 0;
    std::vector<AlarmRule> parsed;
    while (!fileText.empty()) {
        ++line;
        const std::size_t end = fileText.find('\n');
        std::string_view text = fileText.substr(0, end);
        fileText = end == std::string_view::npos ? std::string_view() : fileText.substr(end + 1);
        text = text.substr(0, text.find('#'));
        if (text.ends_with('\r'))
            text.remove_suffix(1);
        if (text.find_first_not_of(" \t") == std::string_view::npos)
            continue;
        AlarmRule rule;
        if (!ParseAlarmRule(text, rule, error)) {
            if (error)
                error->line = line;
            return false;
        }
        parsed.push_back(std::move(rule));
    }
    rules.insert(rules.end(), parsed.begin(), parsed.end());
    return true;
}

std::string DescribeRuleError(const AlarmRuleError& e, std::string_view ruleOrFile) {
    if (e.line == 0)
        return "--alarm '" + std::string(ruleOrFile) + "': column " + std::to_string(e.column) + ": " +
               e.message;
    return std::string(ruleOrFile) + ":" + std::to_string(e.line) + ":" + std::to_string(e.column) + ": " +
           e.message;
}

} // namespace zelvox
