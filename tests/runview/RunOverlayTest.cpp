#include "runview/RunOverlay.h"

#include "decode/Reading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace zelvox {
namespace {

struct Direct {
    std::int64_t count = 0;
    double min = 0, max = 0, mean = 0, sigma = 0;
};

// Straight from the readings of [from, to], two passes in long double.
Direct Sum(const RunStore& s, std::int64_t from, std::int64_t to) {
    std::vector<double> v;
    for (std::int64_t i = 0; i < s.Size(); ++i)
        if (s.Time(i) >= from && s.Time(i) <= to && !IsOverload(s.Value(i)))
            v.push_back(s.Value(i));
    Direct d;
    if (v.empty())
        return d;
    d.count = static_cast<std::int64_t>(v.size());
    d.min = *std::min_element(v.begin(), v.end());
    d.max = *std::max_element(v.begin(), v.end());
    long double sum = 0, sq = 0;
    for (double x : v)
        sum += x;
    const long double mean = sum / static_cast<long double>(v.size());
    for (double x : v)
        sq += (x - mean) * (x - mean);
    d.mean = static_cast<double>(mean);
    d.sigma = static_cast<double>(std::sqrt(sq / static_cast<long double>(v.size())));
    return d;
}

TEST(RunOverlay, TwoRunsAlignedAtTheirStartsOrAtAnInstantEachCompareAsTheReadingsDo) {
    // A cell charged twice, a day apart, the second at another rate and a little higher.
    std::mt19937 random(7);
    RunStore first, second;
    const std::int64_t t1 = 1796726526000, t2 = t1 + 86400000 + 1234;
    for (int i = 0; i < 20000; ++i)
        first.Append(t1 + 500 * i, 3.6 + i * 1e-5 + std::normal_distribution<double>(0, 0.01)(random), 3,
                     i == 0);
    for (int i = 0; i < 9000; ++i)
        second.Append(t2 + 1000 * i + 7, (i % 997 == 5 ? kOverload : 3.65 + i * 2e-5), 3, i == 0);

    struct Case {
        const char* name;
        RunOverlay overlay;
        std::int64_t fromSince, toSince; // of time since the first lane's start
    } cases[] = {
        {"at their starts, the first hour", AlignAtStarts(first, second), 0, 3600000},
        {"at their starts, a span past the second's end", AlignAtStarts(first, second), 5000000, 9000000},
        {"at an instant each", RunOverlay{&first, &second, t1 + 600000, t2 + 1800007}, -300000, 1200000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunOverlay& o = c.overlay;
        EXPECT_EQ(o.OnA(o.startB), o.startA);
        const std::int64_t from = o.startA + c.fromSince, to = o.startA + c.toSince;
        const OverlayComparison got = CompareOverlay(o, from, to);
        const Direct a = Sum(first, from, to);
        const Direct b = Sum(second, o.startB + c.fromSince, o.startB + c.toSince);
        for (const auto& [g, d] : {std::pair{got.a, a}, std::pair{got.b, b}}) {
            ASSERT_EQ(g.count, d.count);
            if (d.count == 0)
                continue;
            EXPECT_DOUBLE_EQ(g.min, d.min);
            EXPECT_DOUBLE_EQ(g.max, d.max);
            EXPECT_NEAR(g.mean, d.mean, 1e-12);
            EXPECT_NEAR(g.stdDev, d.sigma, 1e-9);
        }
        ASSERT_GT(a.count, 0);
        ASSERT_GT(b.count, 0);
        EXPECT_NEAR(got.meanDifference, b.mean - a.mean, 1e-12);
    }
}

} // namespace
} // namespace zelvox
