// What happened on a run besides its readings: alarm rules going firing and back to ok, and the
// user's notes (at an instant, or over a span), in time order. A rule's firing span runs from its
// firing to its next ok; one still firing at the end of the data runs to the last reading. A span
// is drawn on the lane of the reading that carries its firing (the first at or after it).
// Bounded: past kMaxEvents, events are counted, not kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelvox {

class RunIndex;

struct RunEvent {
    enum class Kind : std::uint8_t { kOk, kFiring, kNote };
    std::int64_t ms = 0;
    int utcOffsetSeconds = 0;
    std::int64_t index = 0; // the Index of the row that carries it
    Kind kind = Kind::kOk;
    std::string text;          // the rule's name, or the note
    std::string value, unit;   // the reading then, as the table shows it
    std::int64_t lengthMs = 0; // a note over a span: its length
};

struct FiringSpan {
    std::int64_t fromMs = 0;
    std::int64_t toMs = kOpen; // kOpen while the rule still fires
    std::size_t event = 0;     // its firing event
    static constexpr std::int64_t kOpen = INT64_MAX;
};

class RunEvents {
public:
    static constexpr std::size_t kMaxEvents = 200000;

    // Adds one event in its place in time (one equal to an event kept already is passed over);
    // false when it was not kept.
    bool Add(RunEvent e);
    void Clear();

    const std::vector<RunEvent>& Events() const { return events_; }
    std::size_t Size() const { return events_.size(); }
    std::int64_t Dropped() const { return dropped_; }
    // Grows with every change: what a view drew can tell it is out of date.
    std::uint64_t Generation() const { return generation_; }
    const std::vector<FiringSpan>& Spans() const { return spans_; }
    // The longest note's span: notes in sight begin at most this long before the view.
    std::int64_t LongestNoteMs() const { return longestNote_; }

    // The first event at or after ms.
    std::size_t LowerBound(std::int64_t ms) const;
    // The end of span s as drawn: its ok, or the last reading of index while it fires.
    static std::int64_t SpanEnd(const FiringSpan& s, const RunIndex& index);
    // The lane span s is drawn on, or -1 while index has no reading.
    static int SpanLane(const FiringSpan& s, const RunIndex& index);
    // The time lane spends inside firing spans within [fromMs, toMs], overlapping spans once.
    std::int64_t OutsideMs(const RunIndex& index, int lane, std::int64_t fromMs, std::int64_t toMs) const;

private:
    void Rebuild();
    void Place(std::size_t at);

    std::vector<RunEvent> events_;
    std::vector<FiringSpan> spans_;
    std::vector<std::pair<std::string, std::size_t>> open_; // rule: its open span
    std::int64_t dropped_ = 0;
    std::int64_t longestNote_ = 0;
    std::uint64_t generation_ = 0;
};

} // namespace zelvox
