#include "runview/Envelope.h"
#include "runview/RunMaker.h"

#include <gtest/gtest.h>

#include <map>

namespace zelvox {
namespace {

// Every reading drawn one by one: the columns of each lane as the picture has them.
std::vector<std::vector<EnvelopeColumn>> DrawEveryReading(const RunIndex& index, const TimeScale& scale,
                                                          std::int64_t columns) {
    std::vector<std::map<std::int64_t, EnvelopeColumn>> lanes(index.LaneCount());
    for (std::int64_t i = 0; i < index.Size(); ++i) {
        const std::int64_t x = scale.Column(index.Time(i));
        if (x < 0 || x > columns)
            continue;
        auto& lane = lanes[static_cast<std::size_t>(index.LaneOf(i))];
        const bool fresh = !lane.count(x);
        EnvelopeColumn& c = lane[x];
        const double v = index.Value(i);
        if (fresh) {
            c.x = x;
            if (!index.StartsSegment(i) && !IsOverload(v) && !IsOverload(index.Value(i - 1))) {
                c.joinsPrevious = true;
                c.previousMs = index.Time(i - 1);
                c.previousValue = index.Value(i - 1);
            }
        }
        if (IsOverload(v)) {
            ++(v > 0 ? c.overHigh : c.overLow);
            continue;
        }
        if (c.count == 0)
            c.min = c.max = c.first = v;
        c.min = std::min(c.min, v);
        c.max = std::max(c.max, v);
        c.last = v;
        ++c.count;
    }
    std::vector<std::vector<EnvelopeColumn>> out;
    for (auto& lane : lanes) {
        out.emplace_back();
        for (auto& [x, c] : lane)
            out.back().push_back(c);
    }
    return out;
}

TEST(Envelope, EqualsDrawingEveryReadingAtEveryZoomOverSeeds) {
    // Views as fractions of the run: where it starts and how long it is; and the window's width.
    const struct {
        double from, length;
        std::int64_t columns;
    } views[] = {
        {0, 1, 1600},         {0, 1, 1},          {0, 1, 37},          {-0.2, 1.5, 900},
        {0.3, 0.1, 1600},     {0.5, 0.01, 1600},  {0.71, 0.001, 1600}, {0.25, 0.0001, 1600},
        {0.9, 0.00001, 1600}, {0.999, 0.01, 800}, {-0.5, 0.4, 500},    {0.123, 0.037, 333},
    };
    for (unsigned seed = 1; seed <= 12; ++seed) {
        RunIndex index;
        // Several lengths, so that the pyramid's upper levels and a part-filled tail both show.
        const int readings = seed % 3 == 0 ? 70000 : 4000 + static_cast<int>(seed) * 997;
        // Every fourth run changes function at about every other reading.
        const testing::MadeRun run =
            testing::MakeRandomRun(index, seed, readings, seed % 4 == 0 ? 0.6 : 0.002);
        // A reading found again from its lane and from its instant.
        for (std::int64_t i = 0; i < index.Size(); i += 97) {
            const RunIndex::Place p = index.Locate(i);
            ASSERT_EQ(index.Global(p.lane, p.at), i) << seed;
            const std::int64_t at = index.LowerBound(index.Time(i));
            ASSERT_TRUE(at <= i && index.Time(at) == index.Time(i) &&
                        (at == 0 || index.Time(at - 1) < index.Time(i)))
                << seed << " " << i;
        }
        const double length = static_cast<double>(run.endMs - run.startMs);
        for (const auto& v : views) {
            const TimeScale scale{static_cast<double>(run.startMs) + v.from * length,
                                  v.length * length / static_cast<double>(v.columns)};
            const auto expected = DrawEveryReading(index, scale, v.columns);
            const auto got = LaneEnvelopes(index, scale, v.columns);
            ASSERT_EQ(got.size(), expected.size());
            for (std::size_t l = 0; l < got.size(); ++l)
                ASSERT_TRUE(got[l] == expected[l])
                    << "seed " << seed << " view " << v.from << "+" << v.length << " lane " << l << ": "
                    << got[l].size() << " columns, " << expected[l].size() << " expected";
        }
    }
}

TEST(Envelope, AGrowingRunShowsEachNewReadingAndASpikeOfOneInAMillion) {
    RunIndex index;
    const std::int64_t start = 1796726526123;
    std::int64_t spikeMs = 0;
    for (int i = 0; i < 1'000'000; ++i) {
        const double v = i == 765'432 ? 20.0 : 1.0 + (i % 7) * 0.001;
        if (i == 765'432)
            spikeMs = start + i * 200;
        index.Append(start + i * 200, 3600, Reading{v, 3, kDcVolt}, i + 1, 0);
        // Live: the whole run on 1600 columns after some appends, the newest reading in it.
        if (i == 10 || i == 31 || i == 1023 || i == 765'432 || i == 999'999) {
            const TimeScale scale{static_cast<double>(start), static_cast<double>(i * 200 + 1) / 1600};
            const auto lanes = LaneEnvelopes(index, scale, 1600);
            ASSERT_EQ(lanes.size(), 1u);
            const auto expected = DrawEveryReading(index, scale, 1600);
            ASSERT_TRUE(lanes[0] == expected[0]) << i;
            EXPECT_EQ(lanes[0].back().last, v) << i;
        }
    }
    const TimeScale whole{static_cast<double>(start), 1'000'000.0 * 200 / 1600};
    const auto lanes = LaneEnvelopes(index, whole, 1600);
    const std::int64_t spikeX = whole.Column(spikeMs);
    std::vector<std::int64_t> spikeColumns;
    for (const EnvelopeColumn& c : lanes[0])
        if (c.max == 20.0)
            spikeColumns.push_back(c.x);
    EXPECT_EQ(spikeColumns, std::vector<std::int64_t>{spikeX});
    // At most 17 bytes a reading and the pyramid above them.
    EXPECT_LT(static_cast<double>(index.MemoryBytes()) / 1e6, 24.0);
}

} // namespace
} // namespace zelvox
