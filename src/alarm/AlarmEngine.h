// The alarm engine: each rule's state (ok, pending, firing), fed every accepted frame and what
// the link says, and handing out an event at every change to firing and back to ok.
//
// One object on one thread, owned by whoever reads the frames: no lock, no allocation and a
// few compares per rule and frame. Events go to the sink at once, on the caller's thread.
//
// Between frames a reading is taken to hold until the next frame says otherwise, so the result
// does not depend on when the owner's timer runs: before each frame, link event or Check, every
// deadline up to its instant is taken first (a `for` that ran out, a silence that lasted). The
// owner waits until NextDeadline() (interruptibly) and then calls Check, so that such an event
// also carries the Index of the row dispatched next after its instant.
//
//   above/below/outside, overload: hold on a frame; `for` must hold that long before firing
//     and the condition must stay away that long before ok (with `clear`, the clear level is
//     what a firing rule must pass back over). A reading of another quantity does not hold.
//   silent: fires when no frame has come for its duration (counted from Begin); ok at the
//     next frame.
//   unchanged: fires when the reading (value, decimal point and function) has stayed the same
//     for its duration since the frame that showed it (frames coming or not: the display
//     shows it still); ok at the first frame that differs.
//   unplugged: holds from Unplugged to Back, with `for` as above.
#pragma once

#include "alarm/AlarmRule.h"
#include "decode/Reading.h"
#include "decode/WallClock.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace zelvox {

enum class AlarmState : std::uint8_t { Ok, Pending, Firing };

struct AlarmEvent {
    std::size_t rule = 0; // index into the engine's rules
    bool firing = false;  // to firing, or back to ok
    WallTime at;          // the frame's own instant, or the deadline's
    bool hasReading = false;
    Reading reading;        // the reading shown then (none for silent, unplugged and an end)
    std::int64_t index = 0; // the row that carries the event: the one dispatched at or after it
};

// The event's value and unit as the readings table shows them ("4.500", "0L"; "V", "K\u03A9" in
// UTF-8); empty without a reading.
std::string AlarmValueText(const AlarmEvent& e);
std::string AlarmUnitText(const AlarmEvent& e);

class AlarmEngine {
public:
    using Time = std::chrono::sys_time<std::chrono::milliseconds>;
    using Sink = std::function<void(const AlarmEvent&)>;
    static constexpr Time kNoDeadline = Time::max();

    AlarmEngine(std::vector<AlarmRule> rules, Sink sink);

    // Watching begins (silence is counted from here). Every rule starts ok.
    void Begin(const WallTime& at);
    // One accepted frame at its own instant; index is the Index of the next row to be dispatched.
    void Frame(const Reading& reading, const WallTime& at, std::int64_t index);
    // The adapter went away, or is back.
    void Unplugged(const WallTime& at, std::int64_t index);
    void Back(const WallTime& at, std::int64_t index);
    // Every deadline up to now.
    void Check(const WallTime& now, std::int64_t index);
    // A clean end: every firing rule is said as ok at `at`.
    void End(const WallTime& at, std::int64_t index);

    // A rule added for the rest of the run (it starts ok; a silence is counted from `at`), or
    // removed (said as ok first when it fires). The rules after it move down by one.
    void Add(AlarmRule rule, const WallTime& at);
    void Remove(std::size_t rule, const WallTime& at, std::int64_t index);

    // The earliest instant at which a rule may change without a frame, or kNoDeadline.
    Time NextDeadline() const { return next_; }
    AlarmState State(std::size_t rule) const { return watches_[rule].state; }
    const std::vector<AlarmRule>& Rules() const { return rules_; }

private:
    struct Watch {
        AlarmState state = AlarmState::Ok;
        bool clearing = false; // firing, and the condition has stopped holding
        Time deadline = kNoDeadline;
    };

    void Due(Time t, int utcOffset, std::int64_t index);
    void Observe(std::size_t i, bool holds, const WallTime& at, bool hasReading, std::int64_t index);
    void Emit(std::size_t i, bool firing, Time t, int utcOffset, bool hasReading, std::int64_t index);
    void UpdateNext();

    std::vector<AlarmRule> rules_;
    std::vector<Watch> watches_;
    Sink sink_;
    Time next_ = kNoDeadline;
    Reading last_{};
    bool hasLast_ = false;
};

} // namespace zelvox
