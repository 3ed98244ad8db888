// The readings of one or more runs, cut into segments and lanes, with their index.
//
// Every function of the run has a lane of its own (own unit, own scale) that keeps its readings
// in a store of its own, in time order, with the store's pyramid over them: a lane's picture and
// statistics come from that pyramid alone, however often the run goes from one function to
// another. A segment is a stretch of a lane's readings drawn as one line: a reading starts one
// where the function changes, where a new run begins (another journal, a RESET), where the Index
// does not go on by one, and at a gap in time longer than a few sampling periods (STOP then
// START, an unplugged adapter). The run's own order is kept as stretches (one per change of
// lane, 9 bytes each) and the Index as the few places where it does not go on by one. Appending
// costs constant work, whatever the run's length.
#pragma once

#include "decode/Reading.h"
#include "runview/RunEvents.h"
#include "runview/RunStore.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace zelvox {

struct RunLane {
    std::uint8_t function = 0;
    RunStore store; // the lane's readings; a segment mark where one is not joined to the one before
};

// Where the Index (or the run) does not go on by one from the reading before: reading `at` has
// Index firstIndex, the readings after it count on from there until the next break.
struct IndexBreak {
    std::int64_t at = 0;
    std::int64_t firstIndex = 0;
    std::int64_t run = 0;
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

    RunIndex();
    ~RunIndex();
    RunIndex(const RunIndex&) = delete;
    RunIndex& operator=(const RunIndex&) = delete;

    // Adds one reading. An instant before the last one (a clock set back) is drawn at the last
    // one, so that time never runs backwards in the index; the instant recorded is kept beside
    // it (SetBacks, RecordedTime) for what is saved and reported.
    void Append(std::int64_t ms, int utcOffsetSeconds, const Reading& r, std::int64_t index,
                std::int64_t run);

    // The run's readings in the order they came: i from 0 to Size() - 1.
    std::int64_t Size() const { return size_; }
    std::int64_t Time(std::int64_t i) const;
    double Value(std::int64_t i) const;
    std::uint8_t PointPosition(std::int64_t i) const;
    // True when reading i is not joined to the reading before it (a segment begins).
    bool StartsSegment(std::int64_t i) const;
    int LaneOf(std::int64_t i) const { return Locate(i).lane; }
    std::uint8_t FunctionOf(std::int64_t i) const { return Lane(LaneOf(i)).function; }
    std::int64_t IndexOf(std::int64_t i) const;
    std::int64_t RunOf(std::int64_t i) const;
    // Reading i as its lane holds it, and back.
    struct Place {
        int lane = 0;
        std::int64_t at = 0; // in the lane's store
    };
    Place Locate(std::int64_t i) const;
    std::int64_t Global(int lane, std::int64_t at) const;

    std::size_t LaneCount() const { return lanes_.size(); }
    const RunLane& Lane(std::size_t l) const { return *lanes_[l]; }
    const std::vector<IndexBreak>& Breaks() const { return breaks_; }
    const OffsetTable& Offsets() const { return offsets_; }
    struct SetBack {
        std::int64_t at = 0;         // the reading
        std::int64_t recordedMs = 0; // its instant as recorded
    };
    const std::vector<SetBack>& SetBacks() const { return setBacks_; }
    std::int64_t ClockSetBack() const { return static_cast<std::int64_t>(setBacks_.size()); }
    // The instant reading i was recorded with (Time(i) unless its clock went back).
    std::int64_t RecordedTime(std::int64_t i) const;
    std::int64_t SegmentCount() const { return segmentCount_; }
    // The readings that follow a gap in time (a step longer than the segment's rule allows).
    const std::vector<std::int64_t>& Gaps() const { return gaps_; }

    // The first reading at or after ms, within [begin, end) of the run.
    std::int64_t LowerBound(std::int64_t ms, std::int64_t begin, std::int64_t end) const;
    std::int64_t LowerBound(std::int64_t ms) const { return LowerBound(ms, 0, Size()); }
    // The first reading at or after ms in a lane's store.
    static std::int64_t LowerBound(const RunStore& store, std::int64_t ms);

    std::size_t MemoryBytes() const;

    // The run's alarm events and notes, on the same time axis.
    RunEvents& Events() { return events_; }
    const RunEvents& Events() const { return events_; }

private:
    // Readings [global, next stretch's global) of the run are readings from laneBegin on of
    // one lane. Packed: a run that changes lane at every reading pays 9 bytes a reading.
#pragma pack(push, 1)
    struct Stretch {
        std::uint32_t global;
        std::uint32_t laneBegin;
        std::uint8_t lane;
    };
#pragma pack(pop)
    static constexpr int kStretchBits = 12;

    const Stretch& StretchAt(std::int64_t s) const {
        return stretches_[static_cast<std::size_t>(s >> kStretchBits)]
                         [static_cast<std::size_t>(s & ((1 << kStretchBits) - 1))];
    }
    std::int64_t StretchOf(std::int64_t i) const;
    const IndexBreak& BreakOf(std::int64_t i) const;

    std::vector<std::unique_ptr<RunLane>> lanes_;
    std::array<std::int16_t, 256> laneOfFunction_;
    std::vector<std::unique_ptr<Stretch[]>> stretches_; // blocks of 2^kStretchBits: never moved
    std::int64_t stretchCount_ = 0;
    std::vector<IndexBreak> breaks_;
    std::vector<std::int64_t> gaps_;
    OffsetTable offsets_;
    RunEvents events_;
    std::int64_t size_ = 0;
    std::vector<SetBack> setBacks_;
    std::int64_t segmentCount_ = 0;
    // The reading before the next: its lane, Index, run and instant; its segment's length and
    // shortest step.
    int lastLane_ = -1;
    std::int64_t lastIndex_ = 0, lastRun_ = 0, lastMs_ = 0;
    std::int64_t segmentLength_ = 0, shortestStep_ = 0;
};

} // namespace zelvox
