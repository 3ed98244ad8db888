// Running MAX/MIN of the current run, with their texts and times.
#pragma once

#include "decode/Format.h"
#include "decode/Reading.h"
#include "decode/ReadingHistory.h"

#include <functional>
#include <optional>
#include <string>

namespace zelvox {

struct MaxMinTexts {
    std::optional<std::u16string> maxValueText, maxTimeText; // set when MAX changed
    std::optional<std::u16string> minValueText, minTimeText; // set when MIN changed
    bool newRun = false;
};

class Statistics {
public:
    double maxValue = 0.0;
    double minValue = 0.0;

    // The first step of a dispatch: run detection, MAX/MIN. `now` supplies the time when MAX
    // or MIN changes (read separately for each). texts.newRun tells whoever counts the graph's
    // pages that they start again.
    MaxMinTexts UpdateMaxMin(const Reading& reading, ReadingHistory& history,
                             WallTime (*now)() = &WallTimeNow);

    // MAX/MIN alone, for a reading whose run is known: newRun starts them again from it. `at`
    // gives the reading's time when MAX or MIN changes. Readings read back from a journal take
    // this road with their own times.
    MaxMinTexts TakeMaxMin(const Reading& reading, bool newRun, const std::function<WallTime()>& at);
};

} // namespace zelvox
