#include "alarm/AlarmOptions.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <sstream>

namespace zelvox {
namespace {

// What a rule became: its name and condition, the limits and clear levels (in the rule's unit),
// the duration in ms and, with a unit, each function it applies to with its limit (and clear
// level) in that function's unit.
std::string Became(const AlarmRule& r) {
    static const char* const kNames[] = {"above",  "below",     "outside",  "overload",
                                         "silent", "unchanged", "unplugged"};
    std::ostringstream out;
    out << r.name << ' ' << kNames[static_cast<int>(r.condition)] << ' ' << r.low << ' ' << r.high;
    if (r.hasClear)
        out << " clear " << r.clearLow << ' ' << r.clearHigh;
    out << " for " << r.holdFor.count() << " [" << r.text << "]";
    if (!r.unit.empty()) {
        out << ' ' << r.unit << ':';
        for (std::size_t fc = 0; fc < r.limits.size(); ++fc) {
            const AlarmRule::FunctionLimits& l = r.limits[fc];
            if (!l.applies)
                continue;
            const bool above = r.condition == AlarmCondition::Above,
                       below = r.condition == AlarmCondition::Below;
            out << ' ' << fc << '=';
            (above ? out << l.low : below ? out << l.high : out << l.low << ".." << l.high);
            if (r.hasClear)
                (above   ? out << '/' << l.clearLow
                 : below ? out << '/' << l.clearHigh
                         : out << '/' << l.clearLow << ".." << l.clearHigh);
        }
    }
    return out.str();
}

TEST(AlarmRule, GoodRulesBecomeTheirConditionAndBadOnesSayWhereTheyWentWrong) {
    const struct {
        const char* text;
        const char* became; // or, for a bad rule, "column: message"
    } cases[] = {
        {"high: above 4.2 V clear 4.15 V", "high above 4.2 4.2 clear 4.15 4.2 for 0 [above 4.2 V clear 4.15 "
                                           "V] V: 1=4.2/4.15 2=4200/4150 3=4.2/4.15 4=4200/4150 21=4.2/4.15"},
        {"mv:above 4200mV", "mv above 4200 4200 for 0 [above 4200mV] mV: 1=4.2 2=4200 3=4.2 4=4200 21=4.2"},
        {"  low :  below   -1.5  for 1.5 min ", "low below -1.5 -1.5 for 90000 [below -1.5 for 1.5 min]"},
        {"band: outside 3..4.2 V clear 3100..4150 mV for 2s",
         "band outside 3 4.2 clear 3.1 4.15 for 2000 [outside 3..4.2 V clear 3100..4150 mV for 2s] V: "
         "1=3..4.2/3.1..4.15 2=3000..4200/3100..4150 3=3..4.2/3.1..4.15 4=3000..4200/3100..4150 "
         "21=3..4.2/3.1..4.15"},
        {"r: above 1.5 k\u03A9",
         "r above 1.5 1.5 for 0 [above 1.5 k\u03A9] k\u03A9: 11=1500 12=1.5 13=0.0015 22=1500"},
        {"r2: below 2 KOhm", "r2 below 2 2 for 0 [below 2 KOhm] KOhm: 11=2000 12=2 13=0.002 22=2000"},
        {"i: above 50 \u00B5A",
         "i above 50 50 for 0 [above 50 \u00B5A] \u00B5A: 5=5e-05 6=0.05 7=50 8=5e-05 9=0.05 10=50"},
        {"t: above 80 \u00B0C for 10 s",
         "t above 80 80 for 10000 [above 80 \u00B0C for 10 s] \u00B0C: 23=80"},
        {"f: below 49.5 Hz", "f below 49.5 49.5 for 0 [below 49.5 Hz] Hz: 17=49.5 18=0.0495 19=4.95e-05"},
        {"c: above 10 nF", "c above 10 10 for 0 [above 10 nF] nF: 14=10 15=0.01 16=1e-05"},
        {"ol: overload", "ol overload 0 0 for 0 [overload]"},
        {"quiet: silent for 5s", "quiet silent 0 0 for 5000 [silent for 5s]"},
        {"stuck: unchanged for 1 h", "stuck unchanged 0 0 for 3600000 [unchanged for 1 h]"},
        {"gone: unplugged for 250ms", "gone unplugged 0 0 for 250 [unplugged for 250ms]"},
        {"", "1: the rule is empty: NAME: CONDITION [clear LEVEL] [for DURATION]"},
        {"above 4.2",
         "7: a rule begins with its name and a colon: NAME: CONDITION [clear LEVEL] [for DURATION]"},
        {"h\u00E9: above 4", "2: a rule's name is letters, digits, '_' and '-'"},
        {"high: abve 4.2",
         "7: unknown condition \"abve\" (above, below, outside, overload, silent, unchanged or "
         "unplugged)"},
        {"high:",
         "6: a condition is expected (above, below, outside, overload, silent, unchanged or unplugged)"},
        {"high: above", "12: a number is expected"},
        {"high: above 4,2 V", "14: unknown unit \",2\""},
        {"high: above 4.2 W", "17: unknown unit \"W\""},
        {"high: above 4.2 \u00B5\u00B0C", "17: unknown unit \"\u00B5\u00B0C\""},
        {"band: outside 4.2..3 V", "20: the high limit must be above the low limit"},
        {"band: outside 3 4.2", "17: \"..\" is expected between the two limits: LOW..HIGH"},
        {"high: above 4.2 V clear 4.3 V", "25: the clear level of an above rule must be below its limit"},
        {"low: below 3 V clear 2.9", "22: the clear level of a below rule must be above its limit"},
        {"band: outside 3..4 V clear 2.9..3.9",
         "28: the clear band of an outside rule must lie within its limits"},
        {"high: above 4.2 V clear 4 A", "25: the clear level must be in a unit of V"},
        {"high: above 4.2 clear 4 V", "23: a rule without a unit takes its clear level without one"},
        {"ol: overload clear 1", "14: clear takes a level only after above, below or outside"},
        {"quiet: silent", "14: silent needs a duration: for 5s"},
        {"stuck: unchanged clear", "18: clear takes a level only after above, below or outside"},
        {"quiet: silent for 5", "20: a duration needs a unit: ms, s, min or h"},
        {"quiet: silent for 5 days", "21: a duration needs a unit: ms, s, min or h"},
        {"quiet: silent for 0.1ms", "19: a duration must be longer than 0"},
        {"quiet: silent for 1001 h", "19: a duration must be at most 1000 h"},
        {"high: above 4.2 V for 1s please", "26: unexpected \"please\""},
        {"high: above 4.2 V # a comment", "19: unexpected \"#\""},
    };
    for (const auto& c : cases) {
        AlarmRule rule;
        AlarmRuleError error;
        const std::string got = ParseAlarmRule(c.text, rule, &error)
                                    ? Became(rule)
                                    : std::to_string(error.column) + ": " + error.message;
        EXPECT_EQ(got, c.became) << c.text;
    }
}

TEST(AlarmRule, FilesTakeOneRuleALineAndNameTheLineThatDoesNotParse) {
    std::vector<AlarmRule> rules;
    AlarmRuleError error;
    ASSERT_TRUE(ParseAlarmRules(
        "# the cell\r\nhigh: above 4.2 V  # full\n\n  \t\nlow: below 3 V\r\nquiet: silent for 5s", rules,
        &error));
    ASSERT_EQ(rules.size(), 3u);
    EXPECT_EQ(rules[0].text, "above 4.2 V");
    EXPECT_EQ(rules[2].name, "quiet");

    EXPECT_FALSE(ParseAlarmRules("high: above 4.2 V\n# fine\nlow: below x\nok: overload\n", rules, &error));
    EXPECT_EQ(rules.size(), 3u); // nothing of a file that does not parse is taken
    EXPECT_EQ(DescribeRuleError(error, "/etc/zelvox/alarms"),
              "/etc/zelvox/alarms:3:12: a number is expected");
    AlarmRuleError one{0, 7, "unknown condition"};
    EXPECT_EQ(DescribeRuleError(one, "high: abve 4.2"),
              "--alarm 'high: abve 4.2': column 7: unknown condition");
}

TEST(AlarmRule, TheOptionsGiveEveryRuleInTheOrderGivenOrSayWhatIsWrong) {
    char dir[] = "/tmp/zelvox-alarms-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/alarms", bad = std::string(dir) + "/bad";
    std::ofstream(file) << "# oven\nhot: above 80 \u00B0C clear 75 \u00B0C for 30s\nquiet: silent for 5s\n";
    std::ofstream(bad) << "hot: above 80\n\ncold: below\n";
    const struct {
        std::vector<std::string> args;
        const char* got; // the rules' names, or the error
    } cases[] = {
        {{"--alarm", "high: above 4.2 V", "--alarms", file, "--alarm", "low: below 3 V", "--alarm-exec", "x"},
         "high hot quiet low exec=x"},
        {{"--alarms", bad}, "BAD:3:12: a number is expected"},
        {{"--alarm", "high: abve 4"},
         "--alarm 'high: abve 4': column 7: unknown condition \"abve\" (above, "
         "below, outside, overload, silent, unchanged or unplugged)"},
        {{"--alarms", file, "--alarm", "hot: overload"}, "two alarm rules are named hot"},
        {{"--alarm-exec", "notify-send"}, "--alarm-exec needs --alarm or --alarms"},
        {{"--alarms", std::string(dir) + "/none"}, "--alarms DIR/none: No such file or directory"},
        {{"--alarm"}, "--alarm needs a value"},
        {{"--alarm-exec", ""}, "--alarm-exec needs a value"},
    };
    for (const auto& c : cases) {
        AlarmOptions options;
        std::string error, got;
        std::vector<AlarmRule> rules;
        for (std::size_t i = 0; i < c.args.size() && error.empty(); ++i)
            EXPECT_NE(TakeAlarmOption(c.args, i, options, &error), 0) << c.args[i];
        if (error.empty() && MakeAlarmRules(options, rules, &error)) {
            for (const AlarmRule& rule : rules)
                got += rule.name + " ";
            got += "exec=" + options.exec;
        } else {
            got = error;
        }
        for (const auto& [path, name] : {std::pair{bad, "BAD"}, std::pair{std::string(dir), "DIR"}})
            if (const std::size_t at = got.find(path); at != std::string::npos)
                got.replace(at, path.size(), name);
        EXPECT_EQ(got, c.got);
    }
    std::vector<std::string> other = {"--rate", "1"};
    std::size_t i = 0;
    AlarmOptions options;
    std::string error;
    EXPECT_EQ(TakeAlarmOption(other, i, options, &error), 0);
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace zelvox
