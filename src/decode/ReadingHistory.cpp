#include "decode/ReadingHistory.h"

namespace zelvox {

bool ReadingHistory::StoreReading(const Reading& reading) {
    std::lock_guard<std::mutex> guard(lock_);
    if (readingPending.load(std::memory_order_acquire) != 0)
        return false; // the stored reading still awaits dispatch
    std::uint16_t index = historyCount.load(std::memory_order_relaxed);
    if (index >= kCapacity) {
        // Full: start over at index 0 with a new run.
        index = 0;
        historyCount.store(0, std::memory_order_release);
        historyRunStart.store(0, std::memory_order_release);
        lastFunctionCode = 0;
    }
    historyValues[index].store(reading.value, std::memory_order_relaxed);
    historyCount.store(static_cast<std::uint16_t>(index + 1), std::memory_order_release);
    readingPending.store(1, std::memory_order_release);
    return true;
}

void ReadingHistory::Reset() {
    std::lock_guard<std::mutex> guard(lock_);
    historyCount.store(0, std::memory_order_release);
    historyRunStart.store(0, std::memory_order_release);
    lastFunctionCode = 0;
}

void ReadingHistory::Fill(const double* values, std::uint16_t count, std::uint16_t runStart,
                          std::uint8_t lastFunction) {
    std::lock_guard<std::mutex> guard(lock_);
    count = count > kCapacity ? kCapacity : count;
    for (std::uint16_t i = 0; i < count; ++i)
        historyValues[i].store(values[i], std::memory_order_relaxed);
    historyRunStart.store(runStart < count ? runStart : 0, std::memory_order_release);
    historyCount.store(count, std::memory_order_release);
    lastFunctionCode = lastFunction;
}

} // namespace zelvox
