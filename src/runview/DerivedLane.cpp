#include "runview/DerivedLane.h"

#include "decode/FunctionCode.h"
#include "decode/Labels.h"
#include "decode/Reading.h"

#include <algorithm>

namespace zelvox {

namespace {

bool IsVoltage(std::uint8_t f) {
    return f >= kDcVolt && f <= kAcMillivolt;
}
bool IsCurrent(std::uint8_t f) {
    return f >= kDcAmpere && f <= kAcMicroampere;
}
// Lanes of one unit once taken to their base units: volts, amperes, or one function alone.
int UnitFamily(std::uint8_t f) {
    return IsVoltage(f) ? 1000 : IsCurrent(f) ? 1001 : f;
}

// The first reading at or after ms.
std::int64_t FirstAtOrAfter(const RunStore& s, std::int64_t ms) {
    std::int64_t low = 0, high = s.Size();
    while (low < high) {
        const std::int64_t mid = low + (high - low) / 2;
        if (s.Time(mid) < ms)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

// A source reads the other side's store by more readings than it: switched only when the other
// has a quarter more, so that two sources read side by side at one rate do not trade places.
constexpr double kSwitchRatio = 1.25;
constexpr std::int64_t kSwitchFloor = 64;

} // namespace

DerivedLane::DerivedLane(DerivedKind kind, const RunStore& a, std::uint8_t fa, const RunStore& b,
                         std::uint8_t fb)
    : kind_(kind), a_(a), b_(b), fa_(fa), fb_(fb), factorA_(BaseUnitFactor(fa)), factorB_(BaseUnitFactor(fb)),
      store_(std::make_unique<RunStore>()) {}

bool DerivedLane::Fits(DerivedKind kind, std::uint8_t fa, std::uint8_t fb) {
    if (kind == DerivedKind::kPower)
        return (IsVoltage(fa) && IsCurrent(fb)) || (IsCurrent(fa) && IsVoltage(fb));
    return UnitFamily(fa) == UnitFamily(fb);
}

double DerivedLane::BaseUnitFactor(std::uint8_t f) {
    switch (f) {
    case kDcMillivolt:
    case kAcMillivolt:
    case kDcMilliampere:
    case kAcMilliampere:
        return 1e-3;
    case kDcMicroampere:
    case kAcMicroampere:
        return 1e-6;
    default:
        return 1;
    }
}

std::string DerivedLane::Unit() const {
    switch (kind_) {
    case DerivedKind::kPower:
        return "W";
    case DerivedKind::kRatio:
        return {};
    case DerivedKind::kDifference:
        break;
    }
    return fa_ < kFunctionCount ? ToUtf8(unitLabels[fa_]) : std::string();
}

double DerivedLane::Combine(double a, double b, bool* ok) const {
    *ok = !IsOverload(a) && !IsOverload(b);
    const double x = a * factorA_, y = b * factorB_;
    switch (kind_) {
    case DerivedKind::kPower:
        return x * y;
    case DerivedKind::kRatio:
        *ok = *ok && y != 0;
        return *ok ? x / y : 0;
    case DerivedKind::kDifference:
        return (x - y) / factorA_;
    }
    return 0;
}

std::int64_t DerivedLane::Partner(const RunStore& other, std::int64_t ms, bool final, bool* settled) {
    *settled = true;
    const std::int64_t size = other.Size();
    const std::int64_t j = FirstAtOrAfter(other, ms);
    if (j == size && !final) {
        *settled = false; // a reading still to come may lie nearer
        return -1;
    }
    if (size == 0)
        return -1;
    std::int64_t k = j;
    if (j == size || (j > 0 && ms - other.Time(j - 1) <= other.Time(j) - ms))
        k = j - 1;
    std::int64_t period = -1;
    if (k > 0 && !other.StartsSegment(k))
        period = other.Time(k) - other.Time(k - 1);
    else if (k + 1 < size && !other.StartsSegment(k + 1))
        period = other.Time(k + 1) - other.Time(k);
    else if (k + 1 == size && !final)
        *settled = false; // its period comes with the reading after it
    if (period < 0 || IsOverload(other.Value(k)))
        return -1;
    const std::int64_t apart = ms > other.Time(k) ? ms - other.Time(k) : other.Time(k) - ms;
    return 2 * apart <= 3 * period ? k : -1;
}

void DerivedLane::Restart() {
    store_ = std::make_unique<RunStore>();
    done_ = 0;
    gap_ = true;
}

void DerivedLane::Update(bool final) {
    const std::int64_t sa = a_.Size(), sb = b_.Size();
    const bool aMore = sa >= sb;
    if (aMore != aSetsInstants_ &&
        (done_ == 0 ||
         (aMore ? sa : sb) >= std::max<std::int64_t>(
                                  kSwitchFloor, static_cast<std::int64_t>(
                                                    kSwitchRatio * static_cast<double>(aMore ? sb : sa))))) {
        aSetsInstants_ = aMore;
        Restart();
    }
    const RunStore& instants = aSetsInstants_ ? a_ : b_;
    const RunStore& other = aSetsInstants_ ? b_ : a_;
    for (; done_ < instants.Size(); ++done_) {
        const std::int64_t ms = instants.Time(done_);
        bool settled = true;
        const std::int64_t k = Partner(other, ms, final, &settled);
        if (!settled)
            break;
        if (instants.StartsSegment(done_))
            gap_ = true;
        bool ok = k >= 0;
        double value = 0;
        if (ok) {
            const double own = instants.Value(done_), theirs = other.Value(k);
            value = aSetsInstants_ ? Combine(own, theirs, &ok) : Combine(theirs, own, &ok);
        }
        if (!ok) {
            gap_ = true;
            continue;
        }
        store_->Append(ms, value, 0, gap_);
        gap_ = false;
    }
}

} // namespace zelvox
