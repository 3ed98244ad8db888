#include "runview/TimeTicks.h"

#include <chrono>
#include <cstdio>

namespace zelvox {

namespace {

constexpr std::int64_t kSecond = 1000, kMinute = 60 * kSecond, kHour = 60 * kMinute, kDay = 24 * kHour;
// 1970-01-05, the first Monday of the epoch: weeks begin on Mondays.
constexpr std::int64_t kWeekStart = 4 * kDay;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

std::string DateText(std::int64_t localMs) {
    using namespace std::chrono;
    const year_month_day d{sys_days{days{FloorDiv(localMs, kDay)}}};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", int(d.year()), unsigned(d.month()), unsigned(d.day()));
    return text;
}

std::string TimeText(std::int64_t localMs, std::int64_t step) {
    const std::int64_t ofDay = localMs - FloorDiv(localMs, kDay) * kDay;
    const int h = int(ofDay / kHour), m = int(ofDay / kMinute % 60), s = int(ofDay / kSecond % 60),
              milli = int(ofDay % 1000);
    char text[16];
    if (step >= kDay)
        return {};
    if (step >= kMinute)
        std::snprintf(text, sizeof text, "%02d:%02d", h, m);
    else if (step >= kSecond)
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", h, m, s);
    else
        std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", h, m, s, milli);
    return text;
}

} // namespace

const std::vector<std::int64_t>& TimeTickSteps() {
    static const std::vector<std::int64_t> steps = {1,
                                                    2,
                                                    5,
                                                    10,
                                                    20,
                                                    50,
                                                    100,
                                                    200,
                                                    500,
                                                    kSecond,
                                                    2 * kSecond,
                                                    5 * kSecond,
                                                    10 * kSecond,
                                                    15 * kSecond,
                                                    30 * kSecond,
                                                    kMinute,
                                                    2 * kMinute,
                                                    5 * kMinute,
                                                    10 * kMinute,
                                                    15 * kMinute,
                                                    30 * kMinute,
                                                    kHour,
                                                    2 * kHour,
                                                    3 * kHour,
                                                    6 * kHour,
                                                    12 * kHour,
                                                    kDay,
                                                    2 * kDay,
                                                    7 * kDay};
    return steps;
}

std::int64_t TimeTickStep(double msPerColumn, double minSpacing) {
    for (std::int64_t step : TimeTickSteps())
        if (static_cast<double>(step) >= msPerColumn * minSpacing)
            return step;
    // Longer than weeks: whole weeks.
    const auto weeks =
        static_cast<std::int64_t>(msPerColumn * minSpacing / static_cast<double>(7 * kDay)) + 1;
    return weeks * 7 * kDay;
}

std::vector<TimeTick> TimeTicks(std::int64_t fromMs, std::int64_t toMs, std::int64_t step,
                                const OffsetTable& offsets) {
    std::vector<TimeTick> ticks;
    if (step <= 0 || toMs < fromMs)
        return ticks;
    const std::int64_t origin = step % (7 * kDay) == 0 ? kWeekStart : 0;
    // The span falls into pieces of one offset each; in each, a tick is where the local clock
    // shows a multiple of the step.
    std::vector<OffsetTable::Change> pieces;
    const auto& changes = offsets.Changes();
    pieces.push_back({fromMs, offsets.At(fromMs)});
    for (const auto& c : changes)
        if (c.fromMs > fromMs && c.fromMs <= toMs)
            pieces.push_back(c);
    std::string lastDate;
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        const std::int64_t begin = pieces[p].fromMs;
        const std::int64_t end = p + 1 < pieces.size() ? pieces[p + 1].fromMs - 1 : toMs;
        const std::int64_t offset = std::int64_t{pieces[p].offsetSeconds} * 1000;
        std::int64_t local = FloorDiv(begin + offset - origin + step - 1, step) * step + origin;
        for (; local - offset <= end; local += step) {
            TimeTick t;
            t.ms = local - offset;
            t.time = TimeText(local, step);
            std::string date = DateText(local);
            if (date != lastDate || step >= kDay)
                t.date = date;
            lastDate = std::move(date);
            ticks.push_back(std::move(t));
        }
    }
    return ticks;
}

std::string FormatLocalTime(std::int64_t ms, int offsetSeconds, bool withDate) {
    const std::int64_t local = ms + std::int64_t{offsetSeconds} * 1000;
    const std::string time = TimeText(local, 1);
    return withDate ? DateText(local) + " " + time : time;
}

} // namespace zelvox
