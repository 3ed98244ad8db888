// Alarm rules, the same in both programs, from the command line (--alarm, repeatable) and from a
// file of one rule a line (--alarms FILE, '#' starts a comment):
//
//   NAME: CONDITION [clear LEVEL] [for DURATION]
//
//   CONDITION  above X [UNIT] | below X [UNIT] | outside LOW..HIGH [UNIT]
//              | overload | silent | unchanged | unplugged
//   LEVEL      X [UNIT] (above, below) or LOW..HIGH [UNIT] (outside): where a firing rule ends
//   DURATION   a number and ms, s, min or h (silent and unchanged need one)
//
// NAME is letters, digits, '_' and '-' (it names a broker topic, a variable's value and a CSV
// field). A UNIT limits the rule to readings of its quantity and converts between prefixes
// ("above 4200 mV" fires on a DCV V reading of 4.25); without one the rule compares the value
// the meter shows, whatever its function. Volts cover DCV, ACV and the diode test, ohms the
// resistance functions and continuity; °C and °F are separate quantities (the meter never
// converts between them).
#pragma once

#include "decode/Labels.h"

#include <array>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace zelvox {

enum class AlarmCondition : std::uint8_t { Above, Below, Outside, Overload, Silent, Unchanged, Unplugged };

struct AlarmRule {
    std::string name;
    std::string text; // the rule after "NAME:", its spaces collapsed: "above 4.2 V clear 4.15 V"
    AlarmCondition condition = AlarmCondition::Above;
    // In the rule's unit: above fires over `low`, below under `high`, outside beyond either.
    double low = 0, high = 0;
    // A firing rule ends only back within these (above: under clearLow; below: over clearHigh;
    // outside: within clearLow..clearHigh); without `clear` they are the limits themselves.
    double clearLow = 0, clearHigh = 0;
    bool hasClear = false;
    std::string unit; // as written; empty: every function
    // By function code: whether the rule applies to its readings, and the four levels above in
    // that function's unit, so that a reading compares as the meter shows it (4.200 V is not
    // above 4200 mV).
    struct FunctionLimits {
        bool applies = false;
        double low = 0, high = 0, clearLow = 0, clearHigh = 0;
    };
    std::array<FunctionLimits, kFunctionCount> limits{};
    std::chrono::milliseconds holdFor{0}; // `for`, and for silent and unchanged their duration
};

// Where a rule or a rule file went wrong: its line (1-based, 0 for a rule given on the command
// line), its column (1-based, in characters) and what is wrong.
struct AlarmRuleError {
    int line = 0;
    int column = 0;
    std::string message;
};

// Parses one rule. False with *error for anything the grammar above does not allow.
bool ParseAlarmRule(std::string_view text, AlarmRule& rule, AlarmRuleError* error);

// Parses a rule file's text: one rule a line, blank lines and '#' comments (whole lines or after
// a rule) passed over. False with *error (its line set) at the first line that does not parse.
bool ParseAlarmRules(std::string_view fileText, std::vector<AlarmRule>& rules, AlarmRuleError* error);

// The error as a message: "--alarm 'high: abve 4.2': column 7: ..." for a command-line rule,
// "FILE:3:7: ..." for a rule file.
std::string DescribeRuleError(const AlarmRuleError& error, std::string_view ruleOrFile);

// "firing" or "ok".
inline std::string_view AlarmStateText(bool firing) {
    return firing ? "firing" : "ok";
}

} // namespace zelvox
