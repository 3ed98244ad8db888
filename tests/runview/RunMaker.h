// Random runs for the Run View's tests: a sampling period with jitter, gaps, function changes,
// overload stretches, single-reading spikes, Index jumps and a clock set back. functionChanges is
// the chance that a reading measures another function than the one before (at most 3 in 4).
#pragma once

#include "decode/FunctionCode.h"
#include "runview/RunIndex.h"

#include <cstdint>
#include <random>

namespace zelvox::testing {

struct MadeRun {
    std::int64_t startMs = 1796726526123; // 2026-12-08
    std::int64_t endMs = 0;
};

inline MadeRun MakeRandomRun(RunIndex& index, unsigned seed, int readings, double functionChanges = 0.002) {
    std::mt19937_64 random(seed);
    auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(random) < p; };
    MadeRun made;
    std::int64_t ms = made.startMs, idx = 1, run = 0;
    const std::uint8_t functions[] = {kDcVolt, kDcMilliampere, kOhm, kAcVolt};
    std::uint8_t function = kDcVolt;
    double level = 5;
    int overloadLeft = 0;
    for (int i = 0; i < readings; ++i) {
        ms += 200 + std::uniform_int_distribution<int>(-20, 20)(random);
        if (chance(0.002))
            ms += std::uniform_int_distribution<int>(2000, 3600000)(random); // STOP, START
        if (chance(0.001))
            ms -= 5000; // a clock set back
        if (chance(functionChanges))
            function = functions[random() % 4];
        if (chance(0.001)) {
            ++run; // a RESET
            idx = 1;
        } else if (chance(0.001)) {
            idx += 7; // rows missing from a journal
        }
        if (chance(0.003))
            overloadLeft = std::uniform_int_distribution<int>(1, 40)(random);
        level += std::normal_distribution<double>(0, 0.05)(random);
        double value = std::round(level * 1000) / 1000;
        if (chance(0.001))
            value = chance(0.5) ? 900.0 : -900.0; // a spike of one reading
        if (overloadLeft > 0) {
            --overloadLeft;
            value = chance(0.8) ? kOverload : -kOverload;
        }
        const int offset = ms < made.startMs + 3600000 ? 3600 : 7200; // a daylight-saving change
        index.Append(ms, offset, Reading{value, 3, function}, idx++, run);
    }
    made.endMs = ms;
    return made;
}

} // namespace zelvox::testing
