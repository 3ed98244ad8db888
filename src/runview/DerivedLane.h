// A lane computed from two others: the power of a voltage lane and a current lane, or the ratio
// or difference of two lanes of one unit. Its readings are kept in a store of its own, with the
// same pyramid as a measured lane (so the same envelope, statistics and integral), and it is
// built as its sources grow: each Update pairs only the readings that came since the last.
//
// Pairing: the source with more readings sets the instants; each of its readings is paired with
// the other source's reading nearest in time (the earlier on a tie), when that one lies within
// one and a half of the other source's sampling periods (its step from the reading before, or
// to the one after at a segment's start). A reading left unpaired, or an overload on either
// side, leaves a gap: the next derived reading starts a segment.
#pragma once

#include "runview/RunStore.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zelvox {

enum class DerivedKind : std::uint8_t { kPower, kRatio, kDifference };

class DerivedLane {
public:
    // a and b must outlive the lane; fa and fb are their functions.
    DerivedLane(DerivedKind kind, const RunStore& a, std::uint8_t fa, const RunStore& b, std::uint8_t fb);

    // True when kind can be made of lanes of these functions: power of a voltage and a current
    // (in either order), a ratio or difference of two lanes of one unit.
    static bool Fits(DerivedKind kind, std::uint8_t fa, std::uint8_t fb);
    // The factor that takes a function's readings to its base unit (mV to V: 1e-3).
    static double BaseUnitFactor(std::uint8_t function);

    // Pairs the readings that came since the last call. A reading whose partner may still change
    // waits for the other source's next reading, unless final (the sources will not grow).
    void Update(bool final = false);

    DerivedKind Kind() const { return kind_; }
    const RunStore& Store() const { return *store_; }
    // "W" for power, "" for a ratio, the first lane's unit for a difference (UTF-8).
    std::string Unit() const;
    // True when the lane's integral over time is an energy (W·h).
    bool HasEnergy() const { return kind_ == DerivedKind::kPower; }
    std::uint8_t FunctionA() const { return fa_; }
    std::uint8_t FunctionB() const { return fb_; }
    // True when the first lane's readings set the derived readings' instants.
    bool InstantsFromA() const { return aSetsInstants_; }

    // The reading of other paired with an instant ms of the instants' source, or -1; *settled
    // false when a reading still to come could change it (never when final).
    static std::int64_t Partner(const RunStore& other, std::int64_t ms, bool final, bool* settled);

    std::size_t MemoryBytes() const { return store_->MemoryBytes(); }

private:
    void Restart();
    double Combine(double a, double b, bool* ok) const;

    DerivedKind kind_;
    const RunStore& a_;
    const RunStore& b_;
    std::uint8_t fa_, fb_;
    double factorA_, factorB_;
    bool aSetsInstants_ = true;
    std::int64_t done_ = 0; // readings of the instants' source paired so far
    bool gap_ = true;       // the reading before was left unpaired
    std::unique_ptr<RunStore> store_;
};

} // namespace zelvox
