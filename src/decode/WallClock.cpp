#include "decode/WallClock.h"

#include <ctime>

namespace zelvox {

WallTime::Fields WallTime::LocalFields() const {
    using namespace std::chrono;
    const local_time<Milliseconds> local = Local();
    const local_days day = floor<days>(local);
    const year_month_day date(day);
    const hh_mm_ss<Milliseconds> time(local - day);
    return {int(date.year()),
            int(unsigned(date.month())),
            int(unsigned(date.day())),
            int(time.hours().count()),
            int(time.minutes().count()),
            int(time.seconds().count()),
            int(time.subseconds().count())};
}

WallTime WallTimeAt(std::int64_t epochMs, int utcOffsetSeconds) {
    return {std::chrono::sys_time<std::chrono::milliseconds>(std::chrono::milliseconds(epochMs)),
            std::chrono::seconds(utcOffsetSeconds)};
}

WallTime WallTimeAt(std::int64_t epochMs) {
    // The offset of the local zone at that moment (daylight saving time included).
    const auto seconds = std::chrono::floor<std::chrono::seconds>(std::chrono::milliseconds(epochMs));
    const std::time_t secs = static_cast<std::time_t>(seconds.count());
    std::tm tm{};
    localtime_r(&secs, &tm);
    return WallTimeAt(epochMs, static_cast<int>(tm.tm_gmtoff));
}

WallTime WallTimeNow() {
    const auto now = std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now());
    return WallTimeAt(now.time_since_epoch().count());
}

} // namespace zelvox
