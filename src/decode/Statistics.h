// Running MAX/MIN of the current run, with their texts and times.
#pragma once

#include "decode/Format.h"
#include "decode/Reading.h"
#include "decode/ReadingHistory.h"

#include <optional>
#include <string>

namespace zelvox {

// The trend graph's page counter, told about every dispatch and every new run.
class TrendPages {
public:
    virtual ~TrendPages() = default;
    virtual void UpdatePageCount() = 0;
    virtual void RestartPages() = 0;
};

struct MaxMinTexts {
    std::optional<std::u16string> maxValueText, maxTimeText; // set when MAX changed
    std::optional<std::u16string> minValueText, minTimeText; // set when MIN changed
    bool newRun = false;
};

class Statistics {
public:
    double maxValue = 0.0;
    double minValue = 0.0;

    // The first step of a dispatch: page count, run detection, MAX/MIN. `now` supplies the
    // local time when MAX or MIN changes (read separately for each). pages may be null.
    MaxMinTexts UpdateMaxMin(const Reading& reading, ReadingHistory& history, TrendPages* pages,
                             TimeOfDay (*now)() = &LocalTimeOfDay);
};

} // namespace zelvox
