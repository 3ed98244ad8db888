// Several sources on one time axis: each source (a meter's journals or logs, a broker topic) a
// run of its own with its own lanes, shown together as groups of lanes under the source's name,
// and the derived lanes made of lanes of any of them (power, ratio, difference).
#pragma once

#include "runview/DerivedLane.h"
#include "runview/RunIndex.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zelvox {

// A lane of one source.
struct LaneRef {
    int source = 0;
    int lane = 0;
    bool operator==(const LaneRef&) const = default;
};

// A lane as the picture, the statistics and the exports take it.
struct ShownLane {
    const RunStore* store = nullptr;
    int source = -1;           // the source, or -1 for a derived lane
    int lane = 0;              // the lane in its source, or the derived lane's number
    std::uint8_t function = 0; // a measured lane's function (0 for a derived one)
    std::string group;         // the source's name; empty while there is one source
    std::string name;          // "DCV V", "Power", "Ratio", "Difference"
    std::string unit;          // UTF-8
    bool hasCharge = false;    // a current: A·h over the span
    bool hasEnergy = false;    // a power: W·h over the span
    std::string Title() const { return group.empty() ? name : group + ": " + name; }
};

class ParallelRuns {
public:
    // Adds a source; its index may be someone else's (the live run) or shared with a reader.
    int AddSource(std::string name, std::shared_ptr<RunIndex> index);
    std::size_t SourceCount() const { return sources_.size(); }
    const RunIndex& Source(std::size_t s) const { return *sources_[s].index; }
    RunIndex& Source(std::size_t s) { return *sources_[s].index; }
    const std::string& SourceName(std::size_t s) const { return sources_[s].name; }

    // Adds the lane kind of a and b; false when their functions do not make one.
    bool AddDerived(DerivedKind kind, LaneRef a, LaneRef b);
    // The first voltage and current lanes of different sources (else of one), for a power lane.
    std::optional<std::pair<LaneRef, LaneRef>> PowerPair() const;
    std::size_t DerivedCount() const { return derived_.size(); }
    const DerivedLane& Derived(std::size_t d) const { return *derived_[d].lane; }
    // The derived lanes take up what their sources gained.
    void Update(bool final = false);

    // Every source's lanes in source order, then the derived lanes.
    std::vector<ShownLane> Lanes() const;
    // The lanes of one run as source number `source` named group.
    static void AppendLanes(const RunIndex& index, int source, const std::string& group,
                            std::vector<ShownLane>& lanes);
    // A lane's title: "bench1: DCV V", "Power (bench1 DCV V × bench2 DCA mA)".
    std::string LaneTitle(LaneRef l) const;
    // The first and last instants over every source (none when all are empty).
    std::optional<std::pair<std::int64_t, std::int64_t>> Span() const;
    std::int64_t Readings() const; // measured and derived, all told
    std::size_t MemoryBytes() const;

private:
    struct SourceEntry {
        std::string name;
        std::shared_ptr<RunIndex> index;
    };
    struct DerivedEntry {
        std::unique_ptr<DerivedLane> lane;
        std::string name;
    };
    std::vector<SourceEntry> sources_;
    std::vector<DerivedEntry> derived_;
};

} // namespace zelvox
