#include "decode/ReadingHistory.h"
#include "decode/Statistics.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace zelvox {
namespace {

using namespace std::chrono_literals;

// Stores one reading as the reader would and hands it out as the dispatch would.
void StoreAndDispatch(ReadingHistory& h, double v) {
    ASSERT_TRUE(h.StoreReading({v, 0, 1}));
    h.readingPending = 0;
}

TEST(ReadingHistory, PendingReadingBlocksTheNextStore) {
    auto h = std::make_unique<ReadingHistory>();
    EXPECT_TRUE(h->StoreReading({1.5, 1, 1}));
    EXPECT_EQ(h->readingPending, 1);
    EXPECT_EQ(h->Count(), 1);
    EXPECT_FALSE(h->StoreReading({2.5, 1, 1})) << "a reading awaits dispatch";
    EXPECT_EQ(h->Count(), 1);
    EXPECT_EQ(h->Value(0), 1.5);
    h->readingPending = 0;
    EXPECT_TRUE(h->StoreReading({-kOverload, 0, 1})) << "overloads are stored like any value";
    EXPECT_EQ(h->Count(), 2);
    EXPECT_EQ(h->Value(1), -kOverload);
}

TEST(ReadingHistory, WrapsAtCapacityStartingANewRun) {
    auto h = std::make_unique<ReadingHistory>();
    for (int i = 0; i < ReadingHistory::kCapacity; ++i)
        StoreAndDispatch(*h, i);
    EXPECT_EQ(h->Count(), ReadingHistory::kCapacity);
    EXPECT_EQ(h->Value(29999), 29999.0);
    h->SetRunStart(123);
    h->lastFunctionCode = 7;

    StoreAndDispatch(*h, -4.0);
    EXPECT_EQ(h->Count(), 1);
    EXPECT_EQ(h->RunStart(), 0);
    EXPECT_EQ(h->lastFunctionCode, 0);
    EXPECT_EQ(h->Value(0), -4.0);
    EXPECT_EQ(h->Value(1), 1.0) << "old values stay until overwritten";
}

TEST(ReadingHistory, ResetClearsRunStateOnly) {
    auto h = std::make_unique<ReadingHistory>();
    StoreAndDispatch(*h, 1.0);
    ASSERT_TRUE(h->StoreReading({2.0, 0, 3}));
    h->SetRunStart(1);
    h->lastFunctionCode = 3;
    h->Reset();
    EXPECT_EQ(h->Count(), 0);
    EXPECT_EQ(h->RunStart(), 0);
    EXPECT_EQ(h->lastFunctionCode, 0);
    EXPECT_EQ(h->readingPending, 1) << "a pending reading stays pending";
    h->readingPending = 0;
    StoreAndDispatch(*h, 9.0);
    EXPECT_EQ(h->Count(), 1);
    EXPECT_EQ(h->Value(0), 9.0);
}

TEST(ReadingHistory, StoreResetAndRunDecisionWaitForTheLock) {
    auto h = std::make_unique<ReadingHistory>();
    {
        std::unique_lock<std::mutex> held(h->Lock());
        std::thread store([&] { h->StoreReading({5.0, 0, 1}); });
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(h->Count(), 0) << "StoreReading ran while the lock was held";
        held.unlock();
        store.join();
    }
    EXPECT_EQ(h->Count(), 1);
    {
        std::unique_lock<std::mutex> held(h->Lock());
        std::thread reset([&] { h->Reset(); });
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(h->Count(), 1) << "Reset ran while the lock was held";
        held.unlock();
        reset.join();
    }
    EXPECT_EQ(h->Count(), 0);
    {
        // The statistics step decides a new run under the same lock.
        Statistics stats;
        std::unique_lock<std::mutex> held(h->Lock());
        std::thread dispatch([&] { stats.UpdateMaxMin({1.0, 0, 5}, *h, nullptr); });
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(h->lastFunctionCode, 0) << "UpdateMaxMin changed the run while the lock was held";
        held.unlock();
        dispatch.join();
        EXPECT_EQ(h->lastFunctionCode, 5);
    }
}

TEST(ReadingHistory, ConcurrentStoreResetAndDispatch) {
    // A reader thread offers readings as fast as it can while this thread dispatches each
    // stored one and resets once. The handshake lets exactly one reading through per
    // dispatch, so what the dispatch sees is fixed; ThreadSanitizer checks the sharing.
    auto h = std::make_unique<ReadingHistory>();
    Statistics stats;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        std::uint32_t stored = 0, spins = 0;
        while (!stop.load()) {
            // Mostly wait for the dispatch without the lock; now and then offer a reading
            // while one is still pending, which must be turned away.
            if (h->readingPending.load() != 0 && ++spins % 64 != 0) {
                std::this_thread::yield();
                continue;
            }
            const double v = 1.0 + stored % 1000;
            if (h->StoreReading({v, 0, static_cast<std::uint8_t>(1 + stored % 3)}))
                ++stored;
        }
    });
    struct Joiner {
        std::atomic<bool>& stop;
        std::thread& t;
        ~Joiner() {
            stop = true;
            t.join();
        }
    } joiner{stop, reader};

    constexpr int kResetAt = 30500;
    for (int i = 0; i < 31000; ++i) {
        while (h->readingPending.load() == 0)
            std::this_thread::yield();
        if (i == kResetAt)
            h->Reset();
        // Up to the reset the history wraps at 30000; afterwards it restarts from index 0
        // with the first reading stored after the reset.
        const int expected = i < kResetAt ? i % ReadingHistory::kCapacity + 1 : i - kResetAt;
        const std::uint16_t count = h->Count();
        ASSERT_EQ(count, expected) << "dispatch " << i;
        if (count > 0) {
            ASSERT_EQ(h->Value(count - 1u), 1.0 + i % 1000) << "dispatch " << i;
        }
        const auto t = stats.UpdateMaxMin({2.0, 0, static_cast<std::uint8_t>(1 + i % 2)}, *h, nullptr);
        ASSERT_TRUE(t.newRun) << "the function changes at every dispatch";
        ASSERT_EQ(h->RunStart(), count == 0 ? 0 : count - 1);
        h->readingPending = 0;
    }
}

// A clock that advances by one millisecond at every reading.
int g_tick = 0;
WallTime TickingClock() {
    ++g_tick;
    return WallTimeAt(12 * 3600000 + g_tick, 0); // 12:00:00.000 plus the ticks, at UTC
}

class StatisticsTest : public ::testing::Test {
protected:
    void SetUp() override { g_tick = 0; }

    // Stores (if nothing is pending) and dispatches one reading.
    MaxMinTexts Dispatch(double value, std::uint8_t pp, std::uint8_t fc) {
        history->StoreReading({value, pp, fc});
        MaxMinTexts t = stats.UpdateMaxMin({value, pp, fc}, *history, &TickingClock);
        history->readingPending = 0;
        return t;
    }

    std::unique_ptr<ReadingHistory> history = std::make_unique<ReadingHistory>();
    Statistics stats;
};

TEST_F(StatisticsTest, FirstDispatchSetsBothWithUnit) {
    const auto t = Dispatch(1.234, 1, 1);
    EXPECT_TRUE(t.newRun);
    EXPECT_EQ(history->RunStart(), 0);
    EXPECT_EQ(history->lastFunctionCode, 1);
    EXPECT_EQ(stats.maxValue, 1.234);
    EXPECT_EQ(stats.minValue, 1.234);
    EXPECT_EQ(t.maxValueText, u"1.234V");
    EXPECT_EQ(t.minValueText, u"1.234V");
    EXPECT_EQ(t.maxTimeText, u"12:00:00:001");
    EXPECT_EQ(t.minTimeText, u"12:00:00:002") << "the clock is read again for MIN";

    const auto u = Dispatch(230, 0, 1);
    EXPECT_FALSE(u.newRun);
    EXPECT_EQ(u.maxValueText, u"230V");
    EXPECT_FALSE(u.minValueText);
    EXPECT_FALSE(u.minTimeText);
    EXPECT_EQ(stats.minValue, 1.234);
}

TEST_F(StatisticsTest, NewRunStartsAtTheLastStoredReading) {
    for (int i = 0; i < 5; ++i)
        Dispatch(i, 0, 2);
    EXPECT_EQ(stats.maxValue, 4);
    EXPECT_EQ(stats.minValue, 0);
    const auto t = Dispatch(1.50, 2, 12);
    EXPECT_TRUE(t.newRun);
    EXPECT_EQ(history->RunStart(), 5) << "index of the reading just stored";
    EXPECT_EQ(t.maxValueText, u"1.50K\u03A9");
    EXPECT_EQ(stats.maxValue, 1.5);
    EXPECT_EQ(stats.minValue, 1.5);
}

TEST_F(StatisticsTest, OverloadFirstReadingOfARun) {
    Dispatch(3.0, 0, 1);
    auto t = Dispatch(kOverload, 0, 2);
    EXPECT_TRUE(t.newRun);
    EXPECT_EQ(stats.maxValue, 0.0);
    EXPECT_EQ(stats.minValue, 0.0);
    EXPECT_FALSE(t.maxValueText || t.maxTimeText || t.minValueText || t.minTimeText);

    t = Dispatch(5.0, 0, 2);
    EXPECT_EQ(t.maxValueText, u"5mV");
    EXPECT_FALSE(t.minValueText) << "5 is not at or below the run's 0.0";
    t = Dispatch(-kOverload, 0, 2);
    EXPECT_FALSE(t.maxValueText || t.minValueText);
    EXPECT_EQ(stats.minValue, 0.0);
    t = Dispatch(0.0, 0, 2);
    EXPECT_EQ(t.minValueText, u"0mV");
    EXPECT_FALSE(t.maxValueText);
}

TEST_F(StatisticsTest, EqualValuesRefreshTheTime) {
    Dispatch(3.0, 0, 5);
    Dispatch(5.0, 0, 5);
    const auto t = Dispatch(5.0, 0, 5);
    ASSERT_TRUE(t.maxTimeText);
    EXPECT_EQ(*t.maxTimeText, u"12:00:00:004");
    EXPECT_FALSE(t.minTimeText);
    const auto u = Dispatch(3.0, 0, 5);
    EXPECT_EQ(u.minTimeText, u"12:00:00:005");
}

TEST_F(StatisticsTest, FunctionZeroAfterResetIsNotANewRun) {
    Dispatch(10.0, 0, 1);
    Dispatch(2.0, 0, 1);
    history->Reset();
    const auto t = Dispatch(4.0, 0, 0);
    EXPECT_FALSE(t.newRun);
    EXPECT_EQ(history->RunStart(), 0);
    EXPECT_EQ(stats.maxValue, 10.0);
    EXPECT_EQ(stats.minValue, 2.0);
    EXPECT_FALSE(t.maxValueText || t.minValueText);

    // The next known function does restart, from the history's state after RESET.
    const auto u = Dispatch(4.0, 0, 1);
    EXPECT_TRUE(u.newRun);
    EXPECT_EQ(history->RunStart(), 1);
    EXPECT_EQ(stats.maxValue, 4.0);
}

TEST_F(StatisticsTest, ResetWhilePendingRestartsFromAnEmptyHistory) {
    Dispatch(7.0, 0, 3);
    ASSERT_TRUE(history->StoreReading({8.0, 0, 3}));
    history->Reset(); // the pending reading is not dispatched yet
    const auto t = stats.UpdateMaxMin({8.0, 0, 3}, *history, &TickingClock);
    EXPECT_TRUE(t.newRun);
    EXPECT_EQ(history->Count(), 0);
    EXPECT_EQ(history->RunStart(), 0);
    EXPECT_EQ(t.maxValueText, u"8V");
    EXPECT_EQ(t.minValueText, u"8V");
}

TEST_F(StatisticsTest, WrapStartsANewRunForTheSameFunction) {
    Dispatch(50.0, 0, 17);
    for (int i = 1; i < ReadingHistory::kCapacity; ++i)
        Dispatch(100.0, 0, 17);
    EXPECT_EQ(history->Count(), ReadingHistory::kCapacity);
    EXPECT_EQ(stats.minValue, 50.0);
    const auto t = Dispatch(75.0, 0, 17);
    EXPECT_TRUE(t.newRun);
    EXPECT_EQ(history->Count(), 1);
    EXPECT_EQ(history->RunStart(), 0);
    EXPECT_EQ(stats.maxValue, 75.0);
    EXPECT_EQ(stats.minValue, 75.0);
    EXPECT_EQ(t.minValueText, u"75Hz");
}

TEST_F(StatisticsTest, NoGraphAndDefaultClock) {
    history->StoreReading({-2.5, 3, 24});
    const auto t = stats.UpdateMaxMin({-2.5, 3, 24}, *history, nullptr);
    EXPECT_EQ(t.maxValueText, u"-2.5\u2109");
    ASSERT_TRUE(t.maxTimeText);
    EXPECT_EQ(t.maxTimeText->size(), 12u);
    EXPECT_EQ((*t.maxTimeText)[2], u':');
    EXPECT_EQ((*t.maxTimeText)[8], u':');
}

} // namespace
} // namespace zelvox
