#include "runview/ParallelRuns.h"

#include "decode/FunctionCode.h"
#include "decode/Labels.h"

#include <algorithm>

namespace zelvox {

int ParallelRuns::AddSource(std::string name, std::shared_ptr<RunIndex> index) {
    sources_.push_back({std::move(name), std::move(index)});
    return static_cast<int>(sources_.size()) - 1;
}

std::string ParallelRuns::LaneTitle(LaneRef l) const {
    const std::string function = ToUtf8(
        functionLabels
            [Source(static_cast<std::size_t>(l.source)).Lane(static_cast<std::size_t>(l.lane)).function]);
    return sources_.size() > 1 ? SourceName(static_cast<std::size_t>(l.source)) + " " + function : function;
}

bool ParallelRuns::AddDerived(DerivedKind kind, LaneRef a, LaneRef b) {
    const auto valid = [&](LaneRef l) {
        return l.source >= 0 && static_cast<std::size_t>(l.source) < sources_.size() && l.lane >= 0 &&
               static_cast<std::size_t>(l.lane) < Source(static_cast<std::size_t>(l.source)).LaneCount();
    };
    if (!valid(a) || !valid(b) || a == b)
        return false;
    const RunLane& la = Source(static_cast<std::size_t>(a.source)).Lane(static_cast<std::size_t>(a.lane));
    const RunLane& lb = Source(static_cast<std::size_t>(b.source)).Lane(static_cast<std::size_t>(b.lane));
    if (!DerivedLane::Fits(kind, la.function, lb.function))
        return false;
    static const char* const kNames[] = {"Power", "Ratio", "Difference"};
    static const char* const kSigns[] = {" \u00D7 ", " / ", " - "};
    const auto k = static_cast<std::size_t>(kind);
    derived_.push_back({std::make_unique<DerivedLane>(kind, la.store, la.function, lb.store, lb.function),
                        std::string(kNames[k]) + " (" + LaneTitle(a) + kSigns[k] + LaneTitle(b) + ")"});
    derived_.back().lane->Update();
    return true;
}

std::optional<std::pair<LaneRef, LaneRef>> ParallelRuns::PowerPair() const {
    std::optional<std::pair<LaneRef, LaneRef>> same;
    for (std::size_t s = 0; s < sources_.size(); ++s)
        for (std::size_t l = 0; l < Source(s).LaneCount(); ++l)
            for (std::size_t t = 0; t < sources_.size(); ++t)
                for (std::size_t m = 0; m < Source(t).LaneCount(); ++m) {
                    const std::uint8_t fv = Source(s).Lane(l).function, fa = Source(t).Lane(m).function;
                    if (fv < kDcVolt || fv > kAcMillivolt || !DerivedLane::Fits(DerivedKind::kPower, fv, fa))
                        continue;
                    const std::pair<LaneRef, LaneRef> pair{{static_cast<int>(s), static_cast<int>(l)},
                                                           {static_cast<int>(t), static_cast<int>(m)}};
                    if (s != t)
                        return pair;
                    if (!same)
                        same = pair;
                }
    return same;
}

void ParallelRuns::Update(bool final) {
    for (DerivedEntry& d : derived_)
        d.lane->Update(final);
}

void ParallelRuns::AppendLanes(const RunIndex& index, int source, const std::string& group,
                               std::vector<ShownLane>& lanes) {
    for (std::size_t l = 0; l < index.LaneCount(); ++l) {
        const RunLane& lane = index.Lane(l);
        ShownLane shown;
        shown.store = &lane.store;
        shown.source = source;
        shown.lane = static_cast<int>(l);
        shown.function = lane.function;
        shown.group = group;
        shown.name = ToUtf8(functionLabels[lane.function]);
        shown.unit = ToUtf8(unitLabels[lane.function]);
        shown.hasCharge = lane.function >= kDcAmpere && lane.function <= kAcMicroampere;
        lanes.push_back(std::move(shown));
    }
}

std::vector<ShownLane> ParallelRuns::Lanes() const {
    std::vector<ShownLane> lanes;
    const bool named = sources_.size() > 1;
    for (std::size_t s = 0; s < sources_.size(); ++s)
        AppendLanes(Source(s), static_cast<int>(s), named ? sources_[s].name : std::string(), lanes);
    for (std::size_t d = 0; d < derived_.size(); ++d) {
        ShownLane shown;
        shown.store = &derived_[d].lane->Store();
        shown.lane = static_cast<int>(d);
        shown.name = derived_[d].name;
        shown.unit = derived_[d].lane->Unit();
        shown.hasEnergy = derived_[d].lane->HasEnergy();
        lanes.push_back(std::move(shown));
    }
    return lanes;
}

std::optional<std::pair<std::int64_t, std::int64_t>> ParallelRuns::Span() const {
    std::optional<std::pair<std::int64_t, std::int64_t>> span;
    for (const SourceEntry& s : sources_) {
        if (s.index->Size() == 0)
            continue;
        const std::int64_t first = s.index->Time(0), last = s.index->Time(s.index->Size() - 1);
        span = span ? std::pair{std::min(span->first, first), std::max(span->second, last)}
                    : std::pair{first, last};
    }
    return span;
}

std::int64_t ParallelRuns::Readings() const {
    std::int64_t n = 0;
    for (const SourceEntry& s : sources_)
        n += s.index->Size();
    for (const DerivedEntry& d : derived_)
        n += d.lane->Store().Size();
    return n;
}

std::size_t ParallelRuns::MemoryBytes() const {
    std::size_t bytes = 0;
    for (const SourceEntry& s : sources_)
        bytes += s.index->MemoryBytes();
    for (const DerivedEntry& d : derived_)
        bytes += d.lane->MemoryBytes();
    return bytes;
}

} // namespace zelvox
