#include "runview/DerivedLane.h"

#include "decode/FunctionCode.h"
#include "decode/Reading.h"
#include "runview/SpanStatistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace zelvox {
namespace {

struct Source {
    std::int64_t startMs, periodMs, count;
    int jitterMs;
    std::int64_t gapAt, gapMs; // after reading gapAt, a pause of gapMs (a new segment)
    double overloadChance;
};

struct Made {
    std::vector<std::int64_t> ms;
    std::vector<double> value;
    std::vector<bool> starts;
};

Made Make(const Source& s, unsigned seed, double level) {
    std::mt19937 random(seed);
    Made m;
    std::int64_t t = s.startMs;
    for (std::int64_t i = 0; i < s.count; ++i) {
        const bool gap = i == s.gapAt;
        t += (i == 0 ? 0 : s.periodMs) + (gap ? s.gapMs : 0) +
             (s.jitterMs ? std::uniform_int_distribution<int>(-s.jitterMs, s.jitterMs)(random) : 0);
        m.ms.push_back(t);
        const bool over = std::uniform_real_distribution<double>(0, 1)(random) < s.overloadChance;
        m.value.push_back(over ? kOverload
                               : level + std::uniform_real_distribution<double>(-0.5, 0.5)(random));
        m.starts.push_back(i == 0 || gap);
    }
    return m;
}

// The pairing straight from its definition: every reading of the other side looked at.
struct Expected {
    std::int64_t ms;
    double value;
    bool starts;
};
std::vector<Expected> BruteForce(const Made& own, const Made& other, bool ownIsA, double fa, double fb) {
    std::vector<Expected> out;
    bool gap = true;
    for (std::size_t i = 0; i < own.ms.size(); ++i) {
        if (own.starts[i])
            gap = true;
        std::int64_t best = -1;
        for (std::size_t k = 0; k < other.ms.size(); ++k)
            if (best < 0 || std::llabs(other.ms[k] - own.ms[i]) <
                                std::llabs(other.ms[static_cast<std::size_t>(best)] - own.ms[i]))
                best = static_cast<std::int64_t>(k);
        bool paired = best >= 0;
        if (paired) {
            const auto k = static_cast<std::size_t>(best);
            std::int64_t period = -1;
            if (k > 0 && !other.starts[k])
                period = other.ms[k] - other.ms[k - 1];
            else if (k + 1 < other.ms.size() && !other.starts[k + 1])
                period = other.ms[k + 1] - other.ms[k];
            paired = period >= 0 && std::llabs(other.ms[k] - own.ms[i]) * 2 <= 3 * period &&
                     !IsOverload(other.value[k]) && !IsOverload(own.value[i]);
        }
        if (!paired) {
            gap = true;
            continue;
        }
        const double a = ownIsA ? own.value[i] : other.value[static_cast<std::size_t>(best)];
        const double b = ownIsA ? other.value[static_cast<std::size_t>(best)] : own.value[i];
        out.push_back({own.ms[i], a * fa * b * fb, gap});
        gap = false;
    }
    return out;
}

void Fill(RunStore& store, const Made& m, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to && i < m.ms.size(); ++i)
        store.Append(m.ms[i], m.value[i], 3, m.starts[i]);
}

TEST(DerivedLane, PowerPairsEachReadingOfTheFasterSourceWithTheNearestOfTheOtherAsABruteForceDoes) {
    constexpr std::int64_t t0 = 1796726526000;
    struct Case {
        const char* name;
        Source volts, milliamps;
        bool instantsFromVolts;
    } cases[] = {
        {"equal rates", {t0, 500, 3000, 20, -1, 0, 0}, {t0 + 130, 500, 2990, 20, -1, 0, 0}, true},
        {"12/s against 1/min", {t0, 60000, 70, 0, -1, 0, 0}, {t0 + 7, 83, 50000, 3, -1, 0, 0}, false},
        {"gaps on both sides",
         {t0, 1000, 1500, 50, 400, 95000, 0},
         {t0 + 300, 250, 7000, 10, 2000, 30000, 0},
         false},
        {"clock offsets: one starts and ends later",
         {t0, 1000, 800, 0, -1, 0, 0},
         {t0 + 1600, 1000, 900, 0, -1, 0, 0},
         false},
        {"clock offset within a period",
         {t0, 1000, 900, 0, -1, 0, 0},
         {t0 + 600, 1000, 800, 0, -1, 0, 0},
         true},
        {"overloads and an unmatched start",
         {t0 + 20000, 200, 4000, 30, -1, 0, 0.02},
         {t0, 1000, 1000, 0, -1, 0, 0.01},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Made v = Make(c.volts, 1, 12.0), i = Make(c.milliamps, 2, 480.0);
        RunStore vs, is;
        DerivedLane power(DerivedKind::kPower, vs, kDcVolt, is, kDcMilliampere);
        // Read side by side in pieces, as two files are, then to the end.
        for (std::size_t step = 0; step < 40; ++step) {
            Fill(vs, v, v.ms.size() * step / 40, v.ms.size() * (step + 1) / 40);
            Fill(is, i, i.ms.size() * step / 40, i.ms.size() * (step + 1) / 40);
            power.Update();
        }
        power.Update(true);
        EXPECT_EQ(power.InstantsFromA(), c.instantsFromVolts);
        const auto want =
            power.InstantsFromA() ? BruteForce(v, i, true, 1, 1e-3) : BruteForce(i, v, false, 1, 1e-3);
        const RunStore& got = power.Store();
        ASSERT_EQ(got.Size(), static_cast<std::int64_t>(want.size()));
        ASSERT_GT(got.Size(), 0);
        for (std::int64_t k = 0; k < got.Size(); ++k) {
            const Expected& e = want[static_cast<std::size_t>(k)];
            ASSERT_EQ(got.Time(k), e.ms) << k;
            ASSERT_DOUBLE_EQ(got.Value(k), e.value) << k;
            ASSERT_EQ(got.StartsSegment(k), e.starts) << k;
        }
        // The energy over a span, from the lane's pyramid, against the trapezoids summed one by one.
        const std::int64_t from = want[want.size() / 5].ms, to = want[want.size() * 4 / 5].ms;
        long double direct = 0;
        for (std::size_t k = 1; k < want.size(); ++k)
            if (want[k - 1].ms >= from && want[k].ms <= to && !want[k].starts)
                direct += (static_cast<long double>(want[k - 1].value) + want[k].value) / 2 *
                          static_cast<long double>(want[k].ms - want[k - 1].ms);
        const LaneStatistics st = StoreStatistics(got, from, to);
        EXPECT_NEAR(st.integral / 3.6e6, static_cast<double>(direct / 3.6e6L),
                    1e-9 * std::abs(static_cast<double>(direct / 3.6e6L)) + 1e-12);
    }
}

TEST(DerivedLane, RatioAndDifferenceTakeLanesOfOneUnitToTheirBaseUnits) {
    RunStore a, b;
    for (int k = 0; k < 10; ++k) {
        a.Append(1000 * k, 2.0 + k, 3, k == 0);
        b.Append(1000 * k + 100, 500.0, 3, k == 0);
    }
    EXPECT_TRUE(DerivedLane::Fits(DerivedKind::kRatio, kDcVolt, kAcMillivolt));
    EXPECT_FALSE(DerivedLane::Fits(DerivedKind::kDifference, kDcVolt, kDcMilliampere));
    EXPECT_TRUE(DerivedLane::Fits(DerivedKind::kPower, kDcMicroampere, kAcVolt));
    EXPECT_FALSE(DerivedLane::Fits(DerivedKind::kPower, kDcVolt, kAcVolt));
    DerivedLane ratio(DerivedKind::kRatio, a, kDcVolt, b, kDcMillivolt);
    DerivedLane difference(DerivedKind::kDifference, a, kDcVolt, b, kDcMillivolt);
    ratio.Update(true);
    difference.Update(true);
    ASSERT_EQ(ratio.Store().Size(), 10);
    ASSERT_EQ(difference.Store().Size(), 10);
    for (int k = 0; k < 10; ++k) {
        EXPECT_DOUBLE_EQ(ratio.Store().Value(k), (2.0 + k) / 0.5);
        EXPECT_DOUBLE_EQ(difference.Store().Value(k), 2.0 + k - 0.5);
    }
    EXPECT_EQ(difference.Unit(), "V");
}

} // namespace
} // namespace zelvox
