// Every reading of a run in a compact form, and a min/max pyramid over it.
//
// A reading costs 17 bytes here (instant, value, one byte for the decimal point and a segment
// mark), kept in fixed chunks so that appending never copies what is stored. Above the readings
// lies a pyramid: a node of level k sums up kFanOut^k readings (count, min, max, first, last,
// mean, squared deviations, and the time integral), so that any range of readings is summed up
// from at most 2 * kFanOut pieces per level. A node is made when its last reading arrives; a
// range only ever uses complete nodes, so appending costs constant work per reading.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace zelvox {

// What a range of readings reaches. Overloads ("0L", "-0L") are not values: they are counted in
// flags only, and no pair of readings with an overload in it adds to the time integral.
struct RangeSummary {
    static constexpr std::uint8_t kOverHigh = 1;
    static constexpr std::uint8_t kOverLow = 2;

    std::int64_t count = 0; // readings with a value (overloads left out)
    double min = 0, max = 0, first = 0, last = 0;
    double mean = 0, m2 = 0; // mean and sum of squared deviations (Welford, merged after Chan)
    double area = 0;         // trapezoid integral of value over milliseconds, within segments
    std::int64_t overHigh = 0, overLow = 0;

    // Adds b, which follows this range directly. pairArea is the integral of the pair that
    // joins them (0 when it does not count).
    void Append(const RangeSummary& b, double pairArea);
    void AppendValue(double v);
    std::uint8_t Flags() const {
        return static_cast<std::uint8_t>((overHigh ? kOverHigh : 0) | (overLow ? kOverLow : 0));
    }
};

class RunStore {
public:
    static constexpr int kFanOutBits = 5;
    static constexpr int kFanOut = 1 << kFanOutBits;
    static constexpr int kLevels = 6; // 32^6 readings: a billion
    static constexpr int kChunkBits = 16;

    RunStore();
    ~RunStore();
    RunStore(const RunStore&) = delete;
    RunStore& operator=(const RunStore&) = delete;

    // Adds a reading. startsSegment says that it is not joined to the reading before it.
    void Append(std::int64_t ms, double value, std::uint8_t pointPosition, bool startsSegment);

    std::int64_t Size() const { return size_; }
    std::int64_t Time(std::int64_t i) const { return Chunk(i).ms[Slot(i)]; }
    double Value(std::int64_t i) const { return Chunk(i).value[Slot(i)]; }
    std::uint8_t PointPosition(std::int64_t i) const { return Chunk(i).mark[Slot(i)] & kPointMask; }
    bool StartsSegment(std::int64_t i) const { return (Chunk(i).mark[Slot(i)] & kSegmentBit) != 0; }

    // The summary of readings [begin, end).
    RangeSummary Summarise(std::int64_t begin, std::int64_t end) const;
    // Only what a picture needs of readings [begin, end): count, min, max, first, last and the
    // overloads (mean, deviations and integral left at 0). Cheaper than Summarise.
    RangeSummary Extent(std::int64_t begin, std::int64_t end) const;
    // The first reading in [begin, end) whose own summary meets `wanted`, found through the
    // pyramid (wanted must hold for a range whenever it holds for a reading in it: a maximum
    // reached, an overload there); end when none does.
    std::int64_t FindFirst(std::int64_t begin, std::int64_t end,
                           const std::function<bool(const RangeSummary&)>& wanted) const;
    // The integral of the pair (i - 1, i): zero across a segment start or an overload.
    double PairArea(std::int64_t i) const;

    // Bytes held, all told (readings, pyramid, the containers' own bookkeeping).
    std::size_t MemoryBytes() const;

private:
    static constexpr std::int64_t kChunkSize = std::int64_t{1} << kChunkBits;
    static constexpr std::uint8_t kPointMask = 0x03;
    static constexpr std::uint8_t kSegmentBit = 0x80;

    struct Node {
        double min, max, first, last, mean, m2, area;
        std::uint32_t count, overHigh, overLow;
    };
    struct ChunkData {
        std::array<std::int64_t, kChunkSize> ms;
        std::array<double, kChunkSize> value;
        std::array<std::uint8_t, kChunkSize> mark;
    };

    // Nodes in blocks of a power of two: found with a shift, never moved when more come.
    class NodeBlocks {
    public:
        static constexpr int kBits = 12;
        const Node& operator[](std::int64_t i) const {
            return blocks_[static_cast<std::size_t>(i >> kBits)]
                          [static_cast<std::size_t>(i & ((1 << kBits) - 1))];
        }
        void PushBack(const Node& n);
        std::size_t Bytes() const;

    private:
        std::vector<std::unique_ptr<Node[]>> blocks_;
        std::int64_t size_ = 0;
    };

    template <bool kFull> RangeSummary Sum(std::int64_t begin, std::int64_t end) const;
    int NodeAt(std::int64_t at, std::int64_t end, std::int64_t& span) const;
    // The node of a level that reading at lies in: shifts, not divisions (a picture asks for a
    // few hundred thousand of them).
    static std::int64_t NodeOf(std::int64_t at, int level) { return at >> (kFanOutBits * (level + 1)); }
    const ChunkData& Chunk(std::int64_t i) const {
        return *chunks_[static_cast<std::size_t>(i >> kChunkBits)];
    }
    static std::size_t Slot(std::int64_t i) { return static_cast<std::size_t>(i & (kChunkSize - 1)); }
    RangeSummary Single(std::int64_t i) const;
    static RangeSummary FromNode(const Node& n);
    static Node ToNode(const RangeSummary& s);
    void CloseNodes(std::int64_t end);

    std::vector<std::unique_ptr<ChunkData>> chunks_;
    std::array<NodeBlocks, kLevels> levels_; // levels_[k] nodes cover kFanOut^(k+1) readings
    std::int64_t size_ = 0;
};

} // namespace zelvox
