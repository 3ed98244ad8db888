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
    int exponent; // the unit is 10^exponent of the quantity's base unit
};

// What each function measures, by function code.
constexpr std::array<Measure, kFunctionCount> kMeasures = {{
    {Quantity::None, 0},       {Quantity::Volt, 0},        {Quantity::Volt, -3},   {Quantity::Volt, 0},
    {Quantity::Volt, -3},      {Quantity::Ampere, 0},      {Quantity::Ampere, -3}, {Quantity::Ampere, -6},
    {Quantity::Ampere, 0},     {Quantity::Ampere, -3},     {Quantity::Ampere, -6}, {Quantity::Ohm, 0},
    {Quantity::Ohm, 3},        {Quantity::Ohm, 6},         {Quantity::Farad, -9},  {Quantity::Farad, -6},
    {Quantity::Farad, -3},     {Quantity::Hertz, 0},       {Quantity::Hertz, 3},   {Quantity::Hertz, 6},
    {Quantity::Percent, 0},    {Quantity::Volt, 0},        {Quantity::Ohm, 0},     {Quantity::Celsius, 0},
    {Quantity::Fahrenheit, 0}, {Quantity::Millisecond, 0}, {Quantity::Degree, 0},  {Quantity::Rpm, 3},
}};
static_assert(kMeasures[kDiode].quantity == Quantity::Volt && kMeasures[kKiloRpm].exponent == 3);

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
    int exponent;
};

constexpr Prefix kPrefixes[] = {{"n", -9}, {"\u00B5", -6}, {"\u03BC", -6}, {"u", -6},
                                {"m", -3}, {"k", 3},       {"K", 3},       {"M", 6}};

bool LookUpUnit(std::string_view text, Measure& unit) {
    for (const Base& b : kBases)
        if (text == b.text) {
            unit = {b.quantity, 0};
            return true;
        }
    for (const Prefix& p : kPrefixes)
        if (text.starts_with(p.text))
            for (const Base& b : kBases)
                if (b.prefixed && text.substr(p.text.size()) == b.text) {
                    unit = {b.quantity, p.exponent};
                    return true;
                }
    return false;
}

constexpr double kMaxDurationMs = 1000.0 * 3600 * 1000; // 1000 h

// The decimal text times 10^exponent, rounded once (a reading the meter shows as 4.200 V is then
// exactly the limit "4200 mV" in volts).
double Shifted(std::string_view decimal, int exponent) {
    const std::string text = std::string(decimal) + "e" + std::to_string(exponent);
    double v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

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
    // digits[.digits], an optional sign before, and its text without a '+'; no space is taken
    // after it.
    bool Number(double& v, std::string_view* text = nullptr) {
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
        if (text)
            *text = std::string_view(first, static_cast<std::size_t>(s.data() + q - first));
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

// A level: one number, or LOW..HIGH for a band, as written, and its unit.
struct Level {
    std::string_view low, high;
    Measure unit{Quantity::None, 0};
    std::string unitText;
    bool hasUnit = false;
};

bool ParseLevel(Scanner& in, bool band, Level& level) {
    double low = 0, high = 0;
    if (!in.Number(low, &level.low))
        return false;
    level.high = level.low;
    if (band) {
        in.SkipSpace();
        if (!in.s.substr(in.p).starts_with(".."))
            return in.Fail(in.p, "\"..\" is expected between the two limits: LOW..HIGH");
        in.p += 2;
        const std::size_t at = in.p;
        if (!in.Number(high, &level.high))
            return false;
        if (!(low < high))
            return in.Fail(at, "the high limit must be above the low limit");
    }
    return in.OptionalUnit(level.unit, level.unitText, level.hasUnit);
}

bool ParseCondition(Scanner& in, AlarmRule& rule, Level& level) {
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
    if (!ParseLevel(in, c == AlarmCondition::Outside, level))
        return false;
    rule.unit = level.unitText;
    rule.low = Shifted(level.low, 0);
    rule.high = Shifted(level.high, 0);
    rule.clearLow = rule.low;
    rule.clearHigh = rule.high;
    return true;
}

// The clear level, in the rule's unit (exponent: its unit's, relative to the rule's).
bool ParseClear(Scanner& in, AlarmRule& rule, const Level& limits, Level& clear, int& exponent) {
    const std::size_t at = in.p - 5; // "clear", just taken
    const AlarmCondition c = rule.condition;
    if (c != AlarmCondition::Above && c != AlarmCondition::Below && c != AlarmCondition::Outside)
        return in.Fail(at, "clear takes a level only after above, below or outside");
    const std::size_t levelAt = (in.SkipSpace(), in.p);
    if (!ParseLevel(in, c == AlarmCondition::Outside, clear))
        return false;
    if (clear.hasUnit && (!limits.hasUnit || clear.unit.quantity != limits.unit.quantity))
        return in.Fail(levelAt, rule.unit.empty() ? "a rule without a unit takes its clear level without one"
                                                  : "the clear level must be in a unit of " + rule.unit);
    exponent = clear.hasUnit ? clear.unit.exponent - limits.unit.exponent : 0;
    const double low = Shifted(clear.low, exponent), high = Shifted(clear.high, exponent);
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
    Level limits, clear;
    int clearExponent = 0;
    if (!ParseCondition(in, rule, limits))
        return false;
    if (in.TakeWord("clear") && !ParseClear(in, rule, limits, clear, clearExponent))
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
    // Each function's limits in its own unit, converted from the texts as written.
    for (std::size_t fc = 0; fc < kFunctionCount; ++fc) {
        AlarmRule::FunctionLimits& f = rule.limits[fc];
        f.applies = !limits.hasUnit || kMeasures[fc].quantity == limits.unit.quantity;
        if (!f.applies || limits.low.empty())
            continue;
        const int shift = limits.hasUnit ? limits.unit.exponent - kMeasures[fc].exponent : 0;
        f.low = f.clearLow = Shifted(limits.low, shift);
        f.high = f.clearHigh = Shifted(limits.high, shift);
        if (rule.hasClear && rule.condition != AlarmCondition::Below)
            f.clearLow = Shifted(clear.low, shift + clearExponent);
        if (rule.hasClear && rule.condition != AlarmCondition::Above)
            f.clearHigh = Shifted(clear.high, shift + clearExponent);
    }
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
