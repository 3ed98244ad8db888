#include "runview/TimeTicks.h"

#include <gtest/gtest.h>

namespace zelvox {
namespace {

constexpr std::int64_t kH = 3600000;
// 2026-03-29 01:00 UTC: Central Europe goes from +01:00 to +02:00; 2026-10-25 01:00 UTC back.
constexpr std::int64_t kSpring = 1774746000000;
constexpr std::int64_t kAutumn = 1792890000000;

OffsetTable CentralEurope() {
    OffsetTable t;
    t.Note(kSpring - 400 * kH, 3600);
    t.Note(kSpring, 7200);
    t.Note(kAutumn, 3600);
    return t;
}

std::string Describe(const std::vector<TimeTick>& ticks) {
    std::string out;
    for (const TimeTick& t : ticks)
        out += (t.date.empty() ? "" : t.date + (t.time.empty() ? "" : " ")) + t.time + "|";
    return out;
}

TEST(TimeTicks, StepsFromMillisecondsToWeeksOnTheLocalClockWithDateChangesAndDaylightSaving) {
    const OffsetTable zone = CentralEurope();
    const struct {
        std::int64_t from, to;
        double msPerColumn;
        std::int64_t step;
        const char* ticks;
    } cases[] = {
        // Milliseconds: 23:59:59.998 .. 00:00:00.003 local on 2026-03-27, ticks every 2 ms.
        {kSpring - 26 * kH - 2, kSpring - 26 * kH + 3, 0.025, 2,
         "2026-03-27 23:59:59.998|2026-03-28 00:00:00.000|00:00:00.002|"},
        // Seconds across a minute.
        {kSpring - 26 * kH - 12000, kSpring - 26 * kH + 10000, 100, 10000,
         "2026-03-27 23:59:50|2026-03-28 00:00:00|00:00:10|"},
        // Hours over the spring change: 02:00 local does not exist.
        {kSpring - 2 * kH, kSpring + 2 * kH, 40000, kH, "2026-03-29 00:00|01:00|03:00|04:00|05:00|"},
        // Hours over the autumn change: 02:00 local comes twice.
        {kAutumn - 2 * kH, kAutumn + 2 * kH, 40000, kH, "2026-10-25 01:00|02:00|02:00|03:00|04:00|"},
        // Six hours at a time, on the local clock on both sides of the change.
        {kSpring - 12 * kH, kSpring + 12 * kH, 250000, 6 * kH,
         "2026-03-28 18:00|2026-03-29 00:00|06:00|12:00|"},
        // Days: each at local midnight, the date as the label.
        {kSpring - 48 * kH, kSpring + 48 * kH, 1e6, 86400000, "2026-03-28|2026-03-29|2026-03-30|2026-03-31|"},
        // Weeks from Monday to Monday.
        {kSpring - 400 * kH, kSpring + 400 * kH, 5e6, 7 * 86400000,
         "2026-03-16|2026-03-23|2026-03-30|2026-04-06|2026-04-13|"},
    };
    for (const auto& c : cases) {
        const std::int64_t step = TimeTickStep(c.msPerColumn, 80);
        EXPECT_EQ(step, c.step) << c.ticks;
        const auto ticks = TimeTicks(c.from, c.to, step, zone);
        EXPECT_EQ(Describe(ticks), c.ticks);
        for (std::size_t i = 1; i < ticks.size(); ++i)
            EXPECT_GT(ticks[i].ms, ticks[i - 1].ms) << c.ticks;
    }
    EXPECT_EQ(FormatLocalTime(kAutumn, 3600), "2026-10-25 02:00:00.000");
}

} // namespace
} // namespace zelvox
