#include "alarm/AlarmOptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace zelvox {

std::string AlarmUsage(std::size_t column) {
    struct Option {
        const char* name;
        std::vector<const char*> lines;
    };
    static const Option options[] = {
        {"--alarm RULE",
         {"check every accepted frame against RULE (repeatable):",
          "NAME: CONDITION [clear LEVEL] [for DURATION], where CONDITION",
          "is above X [UNIT], below X [UNIT], outside LOW..HIGH [UNIT],",
          "overload, silent, unchanged or unplugged, and DURATION a", "number with ms, s, min or h"}},
        {"--alarms FILE", {"the rules in FILE, one a line ('#' starts a comment)"}},
        {"--alarm-exec CMD",
         {"run CMD through /bin/sh -c for each alarm event (killed",
          "after 30 s), with ZELVOX_ALARM, ZELVOX_ALARM_STATE,",
          "ZELVOX_ALARM_VALUE, ZELVOX_ALARM_UNIT, ZELVOX_ALARM_TIME,",
          "ZELVOX_ALARM_RULE and ZELVOX_PORT set"}},
    };
    std::string usage;
    for (const Option& o : options) {
        std::string head = std::string("  ") + o.name;
        const std::size_t at = std::max(column, head.size() + 2);
        head.resize(at, ' ');
        for (const char* line : o.lines) {
            usage += head + line + '\n';
            head.assign(at, ' ');
        }
    }
    return usage;
}

int TakeAlarmOption(const std::vector<std::string>& args, std::size_t& i, AlarmOptions& o,
                    std::string* error) {
    const std::string& arg = args[i];
    if (arg != "--alarm" && arg != "--alarms" && arg != "--alarm-exec")
        return 0;
    if (i + 1 >= args.size() || args[i + 1].empty()) {
        *error = arg + " needs a value";
        return -1;
    }
    const std::string& value = args[++i];
    if (arg == "--alarm-exec")
        o.exec = value;
    else
        o.sources.push_back({arg == "--alarms", value});
    return 1;
}

namespace {

constexpr std::streamsize kMaxFileBytes = 1 << 20;

bool ReadRuleFile(const std::string& path, std::string& text, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "--alarms " + path + ": " + std::strerror(errno);
        return false;
    }
    text.assign(static_cast<std::size_t>(kMaxFileBytes) + 1, '\0');
    in.read(text.data(), kMaxFileBytes + 1);
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (in.bad() || text.size() > static_cast<std::size_t>(kMaxFileBytes)) {
        *error = "--alarms " + path + ": " + (in.bad() ? "cannot be read" : "larger than 1 MB");
        return false;
    }
    return true;
}

} // namespace

bool MakeAlarmRules(const AlarmOptions& o, std::vector<AlarmRule>& rules, std::string* error) {
    std::vector<AlarmRule> made;
    for (const AlarmOptions::Source& source : o.sources) {
        AlarmRuleError e;
        if (source.file) {
            std::string text;
            if (!ReadRuleFile(source.text, text, error))
                return false;
            if (!ParseAlarmRules(text, made, &e)) {
                *error = DescribeRuleError(e, source.text);
                return false;
            }
        } else {
            AlarmRule rule;
            if (!ParseAlarmRule(source.text, rule, &e)) {
                *error = DescribeRuleError(e, source.text);
                return false;
            }
            made.push_back(std::move(rule));
        }
    }
    std::set<std::string> names;
    for (const AlarmRule& rule : made)
        if (!names.insert(rule.name).second) {
            *error = "two alarm rules are named " + rule.name;
            return false;
        }
    if (!o.exec.empty() && made.empty()) {
        *error = "--alarm-exec needs --alarm or --alarms";
        return false;
    }
    rules = std::move(made);
    return true;
}

} // namespace zelvox
