#include "decode/Statistics.h"

#include "decode/Labels.h"

namespace zelvox {

MaxMinTexts Statistics::UpdateMaxMin(const Reading& reading, ReadingHistory& history, WallTime (*now)()) {
    MaxMinTexts texts;
    {
        // The reader's wrap also rewrites the run state, so decide the run under its lock.
        std::lock_guard<std::mutex> guard(history.Lock());
        if (reading.functionCode != history.lastFunctionCode) {
            const std::uint16_t count = history.Count();
            history.SetRunStart(count == 0 ? 0 : static_cast<std::uint16_t>(count - 1));
            history.lastFunctionCode = reading.functionCode;
            texts.newRun = true;
        }
    }
    return TakeMaxMin(reading, texts.newRun, [now] { return now ? now() : WallTimeNow(); });
}

MaxMinTexts Statistics::TakeMaxMin(const Reading& reading, bool newRun, const std::function<WallTime()>& at) {
    MaxMinTexts texts;
    texts.newRun = newRun;
    const bool overload = IsOverload(reading.value);
    if (texts.newRun)
        maxValue = minValue = overload ? 0.0 : reading.value;
    if (overload)
        return texts;

    const std::u16string_view unit =
        reading.functionCode < kFunctionCount ? unitLabels[reading.functionCode] : std::u16string_view();
    auto valueText = [&] {
        std::u16string s = FormatValue(reading.value, reading.pointPosition);
        s += unit;
        return s;
    };
    if (reading.value >= maxValue) {
        maxValue = reading.value;
        texts.maxValueText = valueText();
        texts.maxTimeText = FormatTime(at());
    }
    if (reading.value <= minValue) {
        minValue = reading.value;
        texts.minValueText = valueText();
        texts.minTimeText = FormatTime(at());
    }
    return texts;
}

} // namespace zelvox
