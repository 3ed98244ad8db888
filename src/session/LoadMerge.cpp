#include "session/LoadMerge.h"

#include "decode/Format.h"
#include "decode/FrameEncoder.h"
#include "decode/ReadingHistory.h"

#include <algorithm>

namespace zelvox {

LoadMerge::LoadMerge(ReadingsModel& readings, ReadingHistory& history, Statistics& stats)
    : readings_(readings), history_(history), stats_(stats) {}

void LoadMerge::Begin(std::int64_t largestIndex) {
    active_ = true;
    position_ = readings_.Count();
    dispatched_ = 0;
    leftOut_ = 0;
    readings_.ReserveIndices(largestIndex);
    tail_.clear();
    tailNext_ = 0;
}

void LoadMerge::Dispatching() {
    if (active_ && dispatched_++ == 0)
        firstIndexDuringLoad_ = readings_.NextIndex();
}

void LoadMerge::Cancel() {
    active_ = false;
    tail_.clear();
}

void LoadMerge::Add(const std::vector<ReadingsModel::LoadedRow>& rows) {
    if (!active_)
        return;
    std::vector<ReadingsModel::LoadedRow> kept;
    const std::vector<ReadingsModel::LoadedRow>* put = &rows;
    if (dispatched_ > 0) {
        // Rows past the file's tail as it was when the load began (the file grew, or its Index
        // goes back and forth): those whose Index a new reading has already are left out.
        for (const ReadingsModel::LoadedRow& row : rows)
            if (row.index < firstIndexDuringLoad_)
                kept.push_back(row);
        leftOut_ += static_cast<std::int64_t>(rows.size() - kept.size());
        put = &kept;
    }
    readings_.InsertRows(position_, *put);
    position_ += static_cast<int>(put->size());
    for (const ReadingsModel::LoadedRow& row : *put) {
        if (tail_.size() < ReadingHistory::kCapacity) {
            tail_.push_back(row);
        } else {
            tail_[tailNext_] = row;
            tailNext_ = (tailNext_ + 1) % ReadingHistory::kCapacity;
        }
    }
}

LoadMerge::Outcome LoadMerge::End() {
    Outcome outcome;
    if (!active_)
        return outcome;
    active_ = false;
    outcome.leftOut = leftOut_;
    readings_.ReserveIndices(-1);
    std::vector<ReadingsModel::LoadedRow> rows = std::move(tail_);
    tail_ = {};
    std::rotate(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(tailNext_), rows.end());
    // Readings dispatched during the load are newer: the graph, the gauge and MAX/MIN keep them.
    if (rows.empty() || dispatched_ > 0 || history_.Count() > 0)
        return outcome;

    std::vector<double> values(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        values[i] = rows[i].reading.value;
    const std::uint8_t function = rows.back().reading.functionCode;
    std::size_t runStart = rows.size() - 1;
    while (runStart > 0 && rows[runStart - 1].reading.functionCode == function)
        --runStart;
    history_.Fill(values.data(), static_cast<std::uint16_t>(rows.size()),
                  static_cast<std::uint16_t>(runStart), function);

    // MAX/MIN of the last run, as its dispatches would have left them, with the rows' times.
    MaxMinTexts texts;
    texts.newRun = true;
    for (std::size_t i = runStart; i < rows.size(); ++i) {
        const MaxMinTexts step =
            stats_.TakeMaxMin(rows[i].reading, i == runStart, [&at = rows[i].at] { return at; });
        if (step.maxValueText)
            texts.maxValueText = step.maxValueText, texts.maxTimeText = step.maxTimeText;
        if (step.minValueText)
            texts.minValueText = step.minValueText, texts.minTimeText = step.minTimeText;
    }
    outcome.texts = texts;
    const Reading& last = rows.back().reading;
    outcome.last = last;
    const std::u16string text = FormatTableValue(last.value, last.pointPosition);
    outcome.display = EncodeReading(std::string(text.begin(), text.end()), last.functionCode);
    return outcome;
}

} // namespace zelvox
