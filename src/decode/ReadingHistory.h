// The reading history that feeds the trend graph, and the readingPending handshake.
#pragma once

#include "decode/Reading.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace zelvox {

class ReadingHistory {
public:
    static constexpr std::uint16_t kCapacity = 30000;

    // Reader thread: keeps the reading when none awaits dispatch (wrapping to index 0 after
    // kCapacity), then raises readingPending. Returns true when the value was stored.
    bool StoreReading(const Reading& reading);

    // RESET's data steps: count, run start and lastFunctionCode back to 0. Never interleaves
    // with StoreReading.
    void Reset();

    // The values of readings read back from a journal (at most kCapacity, the newest last), as
    // though they had been dispatched: the run of the last of them starts at runStart.
    void Fill(const double* values, std::uint16_t count, std::uint16_t runStart, std::uint8_t lastFunction);

    // Readers on the UI thread. Count() only advances after the value is in place.
    std::uint16_t Count() const { return historyCount.load(std::memory_order_acquire); }
    std::uint16_t RunStart() const { return historyRunStart.load(std::memory_order_acquire); }
    double Value(std::size_t index) const { return historyValues[index].load(std::memory_order_relaxed); }

    // 1 from the moment a reading is stored until the dispatch has handed it out.
    std::atomic<int> readingPending{0};

    // State of the statistics step (functionCode of the last dispatched reading). Written by
    // the wrap in StoreReading too, so read and write it only while holding Lock().
    std::uint8_t lastFunctionCode = 0;

    // Used by the statistics step; guarded by the same lock as StoreReading.
    void SetRunStart(std::uint16_t start) { historyRunStart.store(start, std::memory_order_release); }
    std::mutex& Lock() const { return lock_; }

private:
    // Atomic cells so that a reader still walking the old run while the writer wraps to index 0
    // reads a whole old or new value, never a torn one; relaxed order suffices because the
    // count carries the release/acquire ordering.
    std::array<std::atomic<double>, kCapacity> historyValues{};
    std::atomic<std::uint16_t> historyCount{0};
    std::atomic<std::uint16_t> historyRunStart{0};
    mutable std::mutex lock_;
};

} // namespace zelvox
