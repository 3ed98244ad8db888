#include "alarm/AlarmEngine.h"
#include "decode/FunctionCode.h"

#include <gtest/gtest.h>
#include <sstream>

namespace zelvox {
namespace {

constexpr std::int64_t kStart = 1796726526000; // 2026-12-08 10:42:06 UTC

// Plays steps through an engine and writes down what comes out. Each step is its time in ms
// after the start and one of: a frame ("4.500 V", "0L V", "1.5 k": the decimals give the point
// position, the unit the function), "check", "unplug", "back", "end" or "next" (the next
// deadline), "add RULE" or "remove N". The Index told with each step is the step's number. Events read
// "NAME STATE@T [VALUE UNIT] #INDEX".
std::string Play(const std::vector<const char*>& ruleTexts, const char* steps) {
    std::vector<AlarmRule> rules;
    for (const char* text : ruleTexts) {
        AlarmRule rule;
        EXPECT_TRUE(ParseAlarmRule(text, rule, nullptr)) << text;
        rules.push_back(rule);
    }
    std::ostringstream out;
    const AlarmEngine* watching = nullptr;
    AlarmEngine engine(rules, [&](const AlarmEvent& e) {
        out << watching->Rules()[e.rule].name << ' ' << AlarmStateText(e.firing) << '@'
            << e.at.EpochMs() - kStart;
        if (e.hasReading)
            out << ' ' << AlarmValueText(e) << ' ' << AlarmUnitText(e);
        out << " #" << e.index << ", ";
    });
    watching = &engine;
    const auto at = [](long ms) { return WallTimeAt(kStart + ms, 3600); };
    engine.Begin(at(0));
    std::istringstream in(steps);
    std::string step;
    for (std::int64_t index = 1; std::getline(in, step, ','); ++index) {
        std::istringstream words(step);
        long ms = 0;
        std::string what, unit;
        words >> ms >> what >> unit;
        if (what == "check")
            engine.Check(at(ms), index);
        else if (what == "unplug")
            engine.Unplugged(at(ms), index);
        else if (what == "back")
            engine.Back(at(ms), index);
        else if (what == "add") {
            AlarmRule rule;
            EXPECT_TRUE(ParseAlarmRule(step.substr(step.find("add") + 4), rule, nullptr)) << step;
            engine.Add(rule, at(ms));
        } else if (what == "remove")
            engine.Remove(std::stoul(unit), at(ms), index);
        else if (what == "end")
            engine.End(at(ms), index);
        else if (what == "next")
            out << "next@"
                << (engine.NextDeadline() == AlarmEngine::kNoDeadline
                        ? std::string("none")
                        : std::to_string(engine.NextDeadline().time_since_epoch().count() - kStart))
                << ", ";
        else {
            const std::uint8_t fc = unit == "V"    ? kDcVolt
                                    : unit == "mV" ? kDcMillivolt
                                    : unit == "k"  ? kKiloOhm
                                    : unit == "R"  ? kOhm
                                    : unit == "C"  ? kCelsius
                                                   : kNoFunction;
            const std::size_t dot = what.find('.');
            const int decimals = dot == std::string::npos ? 0 : int(what.size() - dot - 1);
            const double v = what == "0L" ? kOverload : what == "-0L" ? -kOverload : std::stod(what);
            engine.Frame({v, std::uint8_t(decimals == 0 ? 0 : 4 - decimals), fc}, at(ms), index);
        }
    }
    return out.str();
}

TEST(AlarmEngine, FrameSequencesFireAndEndAsTheirRulesSay) {
    const struct {
        const char* what;
        std::vector<const char*> rules;
        const char* steps;
        const char* events;
    } cases[] = {
        {"an 83 ms excursion, in volts and in millivolts",
         {"high: above 4.2 V", "mv: above 4200 mV"},
         "0 4.100 V, 83 4.500 V, 166 4.100 V, 249 4205 mV",
         "high firing@83 4.500 V #2, mv firing@83 4.500 V #2, high ok@166 4.100 V #3, mv ok@166 4.100 V #3, "
         "high firing@249 4205 mV #4, mv firing@249 4205 mV #4, "},
        {"limits meet readings exactly across prefixes, and an overload is beyond any",
         {"v: above 0.009 V", "mv: below 1001 mV", "big: above 2 M\u03A9"},
         "0 9 mV, 83 1.001 V, 166 0L R, 249 9.001 mV",
         "mv firing@0 9 mV #1, v firing@83 1.001 V #2, mv ok@83 1.001 V #2, v ok@166 0L \u03A9 #3, big "
         "firing@166 0L \u03A9 #3, v firing@249 9.001 mV "
         "#4, "
         "mv firing@249 9.001 mV #4, big ok@249 9.001 mV #4, "},
        {"noise around the limit without clear",
         {"high: above 4.2 V"},
         "0 4.190 V, 83 4.210 V, 166 4.200 V, 249 4.210 V",
         "high firing@83 4.210 V #2, high ok@166 4.200 V #3, high firing@249 4.210 V #4, "},
        {"the same noise with clear",
         {"high: above 4.2 V clear 4.15 V"},
         "0 4.190 V, 83 4.210 V, 166 4.190 V, 249 4.210 V, 332 4.150 V, 415 4.149 V",
         "high firing@83 4.210 V #2, high ok@415 4.149 V #6, "},
        {"for holding both ways, a relapse while clearing starting the clearing over",
         {"high: above 4.2 V for 1s"},
         "0 4.300 V, 500 4.300 V, 1100 4.300 V, 1200 4.100 V, 1500 4.300 V, 1600 4.100 V, 2500 4.100 V, "
         "2600 check, 2700 4.100 V",
         "high firing@1000 4.300 V #3, high ok@2600 4.100 V #8, "},
        {"for breaking: the deadline moves with the condition's last start",
         {"high: above 4.2 V for 1s"},
         "0 4.300 V, 500 4.100 V, 900 4.300 V, 1500 4.300 V, 1899 check, 1899 next, 1900 check",
         "next@1900, high firing@1900 4.300 V #7, "},
        {"deadlines of several rules passed at once come out in time order",
         {"slow: above 1 for 2s", "fast: above 1 for 1s"},
         "0 5.000 V, 3000 check",
         "fast firing@1000 5.000 V #2, slow firing@2000 5.000 V #2, "},
        {"silence counted from the start and from the last frame",
         {"quiet: silent for 5s"},
         "0 next, 100 4.100 V, 100 next, 5099 check, 5100 check, 5200 next, 6000 4.100 V, 6000 next",
         "next@5000, next@5100, quiet firing@5100 #5, next@none, quiet ok@6000 4.100 V #7, next@11000, "},
        {"unchanged, and a function change as a change",
         {"stuck: unchanged for 2s"},
         "0 1.000 V, 1000 1.000 V, 2100 1.000 V, 2200 1.001 V, 3000 1.001 mV, 4500 1.001 mV, 5000 check",
         "stuck firing@2000 1.000 V #3, stuck ok@2200 1.001 V #4, stuck firing@5000 1.001 mV #7, "},
        {"unplugged at once and for a second",
         {"gone: unplugged", "long: unplugged for 1s"},
         "0 4.100 V, 100 unplug, 500 back, 600 unplug, 1700 check, 1800 back, 1900 4.100 V, 2700 next, 2800 "
         "check",
         "gone firing@100 #2, gone ok@500 #3, gone firing@600 #4, long firing@1600 #5, gone ok@1800 #6, "
         "next@2800, long ok@2800 #9, "},
        {"a function change: another quantity ends a rule with a unit, not one without",
         {"high: above 4.2 V", "any: above 100"},
         "0 4.500 V, 83 150.0 mV, 166 4.500 k, 249 99.99 C, 332 4.500 V",
         "high firing@0 4.500 V #1, high ok@83 150.0 mV #2, any firing@83 150.0 mV #2, any ok@166 4.500 "
         "K\u03A9 #3, "
         "high firing@332 4.500 V #5, "},
        {"overloads are beyond every limit",
         {"band: outside 3..4.2 V", "ol: overload", "low: below 3 V"},
         "0 0L V, 83 -0L V, 166 3.500 V",
         "band firing@0 0L V #1, ol firing@0 0L V #1, low firing@83 -0L V #2, band ok@166 3.500 V #3, "
         "ol ok@166 3.500 V #3, low ok@166 3.500 V #3, "},
        {"rules added and removed while it runs",
         {"high: above 4.2 V"},
         "0 4.500 V, 100 add quiet: silent for 1s, 200 add stuck: unchanged for 1s, 300 remove 0, 1300 "
         "check, "
         "1400 4.500 V",
         "high firing@0 4.500 V #1, high ok@300 #4, quiet firing@1100 #5, stuck firing@1200 4.500 V #5, "
         "quiet ok@1400 4.500 V #6, "},
        {"a clean end says each firing rule as ended",
         {"high: above 4.2 V", "hot: above 80 \u00B0C", "quiet: silent for 1s"},
         "0 4.500 V, 500 end, 5000 next",
         "high firing@0 4.500 V #1, high ok@500 #2, next@none, "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Play(c.rules, c.steps), c.events) << c.what;
}

} // namespace
} // namespace zelvox
