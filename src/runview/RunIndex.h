// The readings of one or more runs, cut into segments and lanes, with their index.
//
// A segment is a stretch of readings drawn as one line: it ends where the function changes, where
// a new run begins (another journal, a RESET), where the Index does not go on by one, and at a
// gap in time longer than a few sampling periods (STOP then START, an unplugged adapter). Every
// function of the run has a lane of its own (own unit, own scale), holding its segments in time
// order. Appending costs constant work, whatever the run's length.
#pragma once

#include "decode/Reading.h"
#include "runview/RunStore.h"

#include <cstdint>
#include <vector>

namespace zelvox {

struct RunSegment {
    std::int64_t begin = 0, end = 0; // readings [begin, end)
    std::int64_t firstIndex = 0;     // the Index of the first reading; the rest go on by one
    std::int64_t run = 0;
    std::int64_t shortestStep = 0; // the shortest time between two of its readings, in ms
    std::uint8_t function = 0;
    int lane = 0;
};

struct RunLane {
    std::uint8_t function = 0;
    std::vector<std::int32_t> segments; // into RunIndex::Segments(), in time order
};

// The UTC offsets the readings were recorded with: where each begins.
class OffsetTable {
public:
    struct Change {
        std::int64_t fromMs;
        int offsetSeconds;
    };
    void Note(std::int64_t ms, int offsetSeconds);
    int At(std::int64_t ms) const;
    const std::vector<Change>& Changes() const { return changes_; }

private:
    std::vector<Change> changes_;
};

class RunIndex {
public:
    // A gap: a step longer than kGapPeriods times the segment's shortest step, and longer than
    // kGapFloorMs; a segment of one reading joins the next only within kLongestPeriodMs (the
    // slowest sampling rate and some slack).
    static constexpr std::int64_t kGapPeriods = 4;
    static constexpr std::int64_t kGapFloorMs = 1000;
    static constexpr std::int64_t kLongestPeriodMs = 65000;

    // Adds one reading. An instant before the last one is taken as the last one (a clock set
    // back) and counted, so that time never runs backwards in the index.
    void Append(std::int64_t ms, int utcOffsetSeconds, const Reading& r, std::int64_t index,
                std::int64_t run);

    const RunStore& Store() const { return store_; }
    std::int64_t Size() const { return store_.Size(); }
    const std::vector<RunSegment>& Segments() const { return segments_; }
    const std::vector<RunLane>& Lanes() const { return lanes_; }
    const OffsetTable& Offsets() const { return offsets_; }
    std::int64_t ClockSetBack() const { return clockSetBack_; }

    // The segment holding reading i.
    const RunSegment& SegmentOf(std::int64_t i) const;
    std::int64_t IndexOf(std::int64_t i) const;
    // The first reading at or after ms, within [begin, end) of the store.
    std::int64_t LowerBound(std::int64_t ms, std::int64_t begin, std::int64_t end) const;
    std::int64_t LowerBound(std::int64_t ms) const { return LowerBound(ms, 0, Size()); }

    std::size_t MemoryBytes() const;

private:
    RunStore store_;
    std::vector<RunSegment> segments_;
    std::vector<RunLane> lanes_;
    OffsetTable offsets_;
    std::int64_t clockSetBack_ = 0;
    std::int64_t lastIndex_ = 0;
};

} // namespace zelvox
