// Rows read back from a journal (`--load`), merged into the session: they go into the table in
// file order, ahead of any reading dispatched since the load began, and at its end the newest of
// them fill the history, MAX/MIN (through the dispatch's own Statistics code, with the rows'
// times) and the LCD, as though they had just been dispatched.
#pragma once

#include "decode/Frame.h"
#include "decode/Statistics.h"
#include "session/ReadingsModel.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace zelvox {

class ReadingHistory;

class LoadMerge {
public:
    LoadMerge(ReadingsModel& readings, ReadingHistory& history, Statistics& stats);

    // largestIndex: the largest Index the file is known to hold (its tail's), so that readings
    // dispatched during the load take Indices after it.
    void Begin(std::int64_t largestIndex);
    // A loaded row whose Index a reading dispatched during the load already has is left out.
    void Add(const std::vector<ReadingsModel::LoadedRow>& rows);
    // A reading is about to be dispatched (with the readings model's next Index).
    void Dispatching();
    // RESET: the rows still to come are not wanted.
    void Cancel();
    bool Active() const { return active_; }

    struct Outcome {
        std::int64_t leftOut = 0; // loaded rows left out: their Index was taken already
        // Set when the loaded rows filled the history (no reading was dispatched meanwhile):
        std::optional<MaxMinTexts> texts; // MAX/MIN of the last run, with the rows' times
        std::optional<Reading> last;      // the last loaded reading
        std::optional<Frame> display;     // its display, for the LCD
    };
    Outcome End();

private:
    ReadingsModel& readings_;
    ReadingHistory& history_;
    Statistics& stats_;
    bool active_ = false;
    int position_ = 0;
    int dispatched_ = 0;
    std::int64_t firstIndexDuringLoad_ = 0; // the first Index handed out during the load
    std::int64_t leftOut_ = 0;
    // The newest rows so far: a ring of at most the history's capacity.
    std::vector<ReadingsModel::LoadedRow> tail_;
    std::size_t tailNext_ = 0;
};

} // namespace zelvox
