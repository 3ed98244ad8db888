#include "runview/SpanStatistics.h"
#include "runview/RunMaker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace zelvox {
namespace {

// A rule's firing spans straight from its events: each firing (not already firing) to the next
// ok of its rule, else to the last reading; on the lane of the first reading at or after it.
std::int64_t DirectOutside(const RunIndex& index, std::size_t lane, std::int64_t from, std::int64_t to) {
    const auto& events = index.Events().Events();
    std::vector<std::pair<std::int64_t, std::int64_t>> spans;
    const auto ofRule = [&](std::size_t k, std::size_t e) {
        return events[k].text == events[e].text && events[k].kind != RunEvent::Kind::kNote;
    };
    for (std::size_t e = 0; e < events.size(); ++e) {
        if (events[e].kind != RunEvent::Kind::kFiring)
            continue;
        // It starts a span unless the rule's event before it is a firing (it fires already).
        std::size_t before = e;
        while (before > 0 && !ofRule(before - 1, e))
            --before;
        if (before > 0 && events[before - 1].kind == RunEvent::Kind::kFiring)
            continue;
        std::int64_t end = std::max(events[e].ms, index.Time(index.Size() - 1));
        for (std::size_t k = e + 1; k < events.size(); ++k)
            if (events[k].text == events[e].text && events[k].kind == RunEvent::Kind::kOk) {
                end = events[k].ms;
                break;
            }
        std::int64_t carrier = 0;
        while (carrier < index.Size() - 1 && index.Time(carrier) < events[e].ms)
            ++carrier;
        if (static_cast<std::size_t>(index.LaneOf(carrier)) == lane)
            spans.emplace_back(std::max(events[e].ms, from), std::min(end, to));
    }
    std::sort(spans.begin(), spans.end());
    std::int64_t total = 0, reached = INT64_MIN;
    for (auto [b, e] : spans) {
        b = std::max(b, reached);
        if (e > b) {
            total += e - b;
            reached = e;
        }
    }
    return total;
}

// Alarm events at random instants around the run (two rules, in no order), and a note.
void AddRandomEvents(RunIndex& index, unsigned seed, std::int64_t startMs, std::int64_t endMs) {
    std::mt19937_64 random(seed * 7919);
    const std::int64_t length = endMs - startMs;
    std::vector<RunEvent> events;
    for (int i = 0; i < 40; ++i) {
        RunEvent e;
        e.ms = startMs - length / 20 +
               static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(length + length / 10));
        e.text = random() % 2 ? "high" : "low";
        e.kind = random() % 3 ? RunEvent::Kind::kFiring : RunEvent::Kind::kOk;
        events.push_back(e);
    }
    events.push_back({startMs + length / 2, 0, 0, RunEvent::Kind::kNote, "a note", "", "", length / 4});
    for (RunEvent& e : events)
        index.Events().Add(e);
}

// The same figures straight from the readings, in long double, two passes.
std::vector<LaneStatistics> Direct(const RunIndex& index, std::int64_t from, std::int64_t to) {
    const std::size_t lanes = index.LaneCount();
    std::vector<std::vector<std::int64_t>> members(lanes);
    for (std::int64_t i = 0; i < index.Size(); ++i)
        if (index.Time(i) >= from && index.Time(i) <= to)
            members[static_cast<std::size_t>(index.LaneOf(i))].push_back(i);
    std::vector<LaneStatistics> out;
    for (std::size_t l = 0; l < lanes; ++l) {
        if (members[l].empty())
            continue;
        LaneStatistics s;
        s.lane = static_cast<int>(l);
        s.function = index.Lane(l).function;
        long double sum = 0, area = 0;
        for (std::int64_t i : members[l]) {
            const double v = index.Value(i);
            if (IsOverload(v)) {
                ++(v > 0 ? s.overHigh : s.overLow);
                continue;
            }
            s.min = s.count ? std::min(s.min, v) : v;
            s.max = s.count ? std::max(s.max, v) : v;
            ++s.count;
            sum += v;
            // The pair before it, when both lie in the span, in one segment, with values.
            if (i > 0 && index.Time(i - 1) >= from && !index.StartsSegment(i) &&
                !IsOverload(index.Value(i - 1)))
                area += (static_cast<long double>(index.Value(i - 1)) + v) / 2 *
                        static_cast<long double>(index.Time(i) - index.Time(i - 1));
        }
        long double m2 = 0;
        const long double mean = s.count ? sum / s.count : 0;
        for (std::int64_t i : members[l])
            if (!IsOverload(index.Value(i)))
                m2 += (index.Value(i) - mean) * (index.Value(i) - mean);
        s.mean = static_cast<double>(mean);
        s.stdDev = s.count ? static_cast<double>(std::sqrt(m2 / s.count)) : 0;
        s.peakToPeak = s.max - s.min;
        s.hasCharge = IsCurrentFunction(s.function);
        s.charge = s.hasCharge ? static_cast<double>(area / 3.6e6L) : 0;
        s.outsideMs = DirectOutside(index, l, from, to);
        out.push_back(s);
    }
    return out;
}

void ExpectSame(const std::vector<LaneStatistics>& got, const std::vector<LaneStatistics>& want,
                double relative, const std::string& where) {
    ASSERT_EQ(got.size(), want.size()) << where;
    for (std::size_t i = 0; i < got.size(); ++i) {
        const LaneStatistics &g = got[i], &w = want[i];
        EXPECT_EQ(g.lane, w.lane) << where;
        EXPECT_EQ(g.count, w.count) << where;
        EXPECT_EQ(g.overHigh, w.overHigh) << where;
        EXPECT_EQ(g.overLow, w.overLow) << where;
        EXPECT_EQ(g.min, w.min) << where;
        EXPECT_EQ(g.max, w.max) << where;
        EXPECT_EQ(g.hasCharge, w.hasCharge) << where;
        EXPECT_NEAR(g.mean, w.mean, std::abs(w.mean) * relative + 1e-12) << where;
        EXPECT_NEAR(g.stdDev, w.stdDev, w.stdDev * relative + 1e-12) << where;
        EXPECT_NEAR(g.charge, w.charge, std::abs(w.charge) * relative + 1e-12) << where;
        EXPECT_EQ(g.outsideMs, w.outsideMs) << where << " (time outside limits)";
    }
}

TEST(SpanStatistics, EqualDirectFiguresOverSpansWithOverloadsGapsAndFunctionChanges) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        RunIndex index;
        const testing::MadeRun run = testing::MakeRandomRun(index, seed, 30000, seed % 3 == 0 ? 0.6 : 0.002);
        const std::int64_t length = run.endMs - run.startMs;
        if (seed % 2 == 0) // the others have no alarm events: no time outside limits
            AddRandomEvents(index, seed, run.startMs, run.endMs);
        std::int64_t outside = 0;
        const struct {
            double from, to;
        } spans[] = {{0, 1}, {0.1, 0.2}, {0.5, 0.5001}, {0.33, 0.9}, {-1, 0.01}, {0.999, 2}, {0.4, 0.4}};
        for (const auto& s : spans) {
            const auto from = run.startMs + static_cast<std::int64_t>(s.from * static_cast<double>(length));
            const auto to = run.startMs + static_cast<std::int64_t>(s.to * static_cast<double>(length));
            const auto got = SpanStatistics(index, from, to);
            ExpectSame(got, Direct(index, from, to), 1e-9,
                       "seed " + std::to_string(seed) + " span " + std::to_string(s.from));
            for (const LaneStatistics& st : got)
                outside += st.outsideMs;
        }
        EXPECT_EQ(outside > 0, seed % 2 == 0) << "seed " << seed << ": time outside limits only with events";
    }
}

TEST(SpanStatistics, AMillionReadingsNear1000Point001KeepTheirDeviation) {
    RunIndex index;
    const std::int64_t start = 1796726526123;
    std::mt19937_64 random(7);
    for (int i = 0; i < 1'000'000; ++i) {
        const double v = 1000.001 + static_cast<int>(random() % 5 - 2) * 0.001;
        index.Append(start + i * 500, 0, Reading{v, 3, kDcMilliampere}, i + 1, 0);
    }
    const auto got = SpanStatistics(index, start, INT64_MAX);
    const auto want = Direct(index, start, INT64_MAX);
    ExpectSame(got, want, 1e-9, "whole");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_GT(got[0].stdDev, 0.001);
    // About a milliampere for 500,000 s: 138.9 mA·h.
    EXPECT_NEAR(got[0].charge, 1000.001 * 499'999.5 / 3600, 0.1);
    EXPECT_EQ(ChargeUnit(got[0].function), "mA\u00B7h");
    // A span inside it, beginning and ending between the pyramid's nodes.
    ExpectSame(SpanStatistics(index, start + 12'345 * 500, start + 876'543 * 500),
               Direct(index, start + 12'345 * 500, start + 876'543 * 500), 1e-9, "inner");
}

} // namespace
} // namespace zelvox
