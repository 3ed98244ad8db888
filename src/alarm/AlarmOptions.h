// The command-line options of alarms, the same for the desktop program and the headless logger:
// --alarm RULE (repeatable), --alarms FILE (repeatable) and --alarm-exec CMD.
#pragma once

#include "alarm/AlarmRule.h"

#include <string>
#include <vector>

namespace zelvox {

struct AlarmOptions {
    struct Source {
        bool file = false; // --alarms FILE, else --alarm RULE
        std::string text;  // the rule, or the file's path
    };
    std::vector<Source> sources; // in the order given
    std::string exec;            // --alarm-exec CMD, or empty
    bool Requested() const { return !sources.empty() || !exec.empty(); }
};

// The options' lines of the usage text, each description from `column` on (the program's other
// options' column: 17 in the logger, 21 in the window); a name too long for it puts its
// description two spaces after it, the lines that follow at that column too.
std::string AlarmUsage(std::size_t column);

// Takes args[i] (and its value, advancing i) when it is one of these options: 1 when taken, 0
// when it is not one of them, -1 with *error for a missing value.
int TakeAlarmOption(const std::vector<std::string>& args, std::size_t& i, AlarmOptions& options,
                    std::string* error);

// The rules of the options, in the order given. False with *error for a rule or a file that
// does not parse (its position named), a file that cannot be read, two rules of one name, or
// --alarm-exec without any rule (the logger exits with status 2).
bool MakeAlarmRules(const AlarmOptions& options, std::vector<AlarmRule>& rules, std::string* error);

} // namespace zelvox
