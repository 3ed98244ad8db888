#include "alarm/AlarmOptions.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace zelvox {

const char* const kAlarmUsage =
    "  --alarm RULE   check every accepted frame against RULE (repeatable):\n"
    "                 NAME: CONDITION [clear LEVEL] [for DURATION], where CONDITION\n"
    "                 is above X [UNIT], below X [UNIT], outside LOW..HIGH [UNIT],\n"
    "                 overload, silent, unchanged or unplugged, and DURATION a\n"
    "                 number with ms, s, min or h\n"
    "  --alarms FILE  the rules in FILE, one a line ('#' starts a comment)\n"
    "  --alarm-exec CMD  run CMD through /bin/sh -c for each alarm event (killed\n"
    "                    after 30 s), with ZELVOX_ALARM, ZELVOX_ALARM_STATE,\n"
    "                    ZELVOX_ALARM_VALUE, ZELVOX_ALARM_UNIT, ZELVOX_ALARM_TIME,\n"
    "                    ZELVOX_ALARM_RULE and ZELVOX_PORT set\n";

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
