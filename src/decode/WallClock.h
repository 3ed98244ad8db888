// The program's one wall-clock type: a moment, and the local time zone's offset from UTC at that
// moment. Every time text the program shows or writes (the table's Time, the status-bar clock,
// the MAX/MIN times, the records' ISO 8601) is a format of one of these.
#pragma once

#include <chrono>
#include <cstdint>

namespace zelvox {

struct WallTime {
    using Milliseconds = std::chrono::milliseconds;

    std::chrono::sys_time<Milliseconds> instant{};
    std::chrono::seconds utcOffset{0};

    // The same moment on the local clock.
    std::chrono::local_time<Milliseconds> Local() const {
        return std::chrono::local_time<Milliseconds>(instant.time_since_epoch() + utcOffset);
    }
    std::int64_t EpochMs() const { return instant.time_since_epoch().count(); }

    // The local calendar date and time of day of the moment.
    struct Fields {
        int year, month, day, hour, minute, second, millisecond;
    };
    Fields LocalFields() const;
};

// Now, in the local time zone.
WallTime WallTimeNow();
// A moment given in milliseconds since the Unix epoch, in the local time zone.
WallTime WallTimeAt(std::int64_t epochMs);
// The same, with a given offset from UTC (in seconds east of Greenwich).
WallTime WallTimeAt(std::int64_t epochMs, int utcOffsetSeconds);

} // namespace zelvox
