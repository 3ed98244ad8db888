// The acquisition on real pseudo-terminals: START/STOP and its failures,
// framing of a noisy line, the sampling pace, prompt STOP, an unplugged adapter, pausing.
#include "link/Acquisition.h"
#include "decode/Decoder.h"
#include "decode/FrameEncoder.h"
#include "link/LinkTestUtil.h"
#include "link/RowGaps.h"
#include "link/SerialPort.h"
#include "sim/DemoScenario.h"
#include "support/Pty.h"

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>

namespace zelvox {
namespace {

using namespace zelvox::testing;

Frame Encode(const std::string& text, int functionCode) {
    const auto frame = EncodeReading(text, functionCode);
    EXPECT_TRUE(frame.has_value()) << text;
    return frame.value_or(Frame{});
}

// The frame of DC volts showing the whole number n (0..9999): frames told apart by value.
Frame Numbered(int n) {
    return Encode(std::to_string(n), 1);
}

class AcquisitionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        QObject::connect(&acq, &Acquisition::frameAccepted, &acq,
                         [this](const Frame& f) { frames.push_back(f); });
    }
    void TearDown() override {
        acq.StopAcquisition();
        EXPECT_FALSE(acq.IsRunning());
    }

    bool Start(int rate = 120) {
        const auto r = acq.StartAcquisition(pty.SlavePath(), rate);
        return r.status == Acquisition::StartStatus::Started;
    }
    // True when another program could open the port now.
    bool PortFree() const {
        auto other = CreateSerialPort();
        return other->Open(pty.SlavePath(), nullptr);
    }
    bool WaitFrames(std::size_t n, int ms = 3000) {
        return WaitUntil([&] { return frames.size() >= n; }, ms);
    }

    Pty pty;
    ReadingHistory history;
    Acquisition acq{history};
    std::vector<Frame> frames;
};

TEST_F(AcquisitionTest, StartStopStartOnTheSamePortKeepsTheHistory) {
    ASSERT_TRUE(Start());
    EXPECT_TRUE(acq.IsRunning());
    EXPECT_FALSE(PortFree());
    EXPECT_FALSE(PortFree());

    const Frame first = Encode("1.234", 1);
    ASSERT_TRUE(pty.Write(first));
    ASSERT_TRUE(WaitFrames(1));
    EXPECT_EQ(frames[0], first);
    EXPECT_EQ(acq.CurrentReading().value, 1.234);
    EXPECT_EQ(acq.CurrentReading().functionCode, 1);
    // The frame reaches the UI just before the reader stores its reading.
    EXPECT_TRUE(WaitUntil([&] { return history.Count() == 1; }, 1000));
    EXPECT_EQ(history.readingPending.load(), 1);

    acq.StopAcquisition();
    EXPECT_FALSE(acq.IsRunning());
    EXPECT_TRUE(PortFree());
    EXPECT_TRUE(PortFree()) << "the port is still held after STOP";
    // STOP leaves the reading as it was.
    EXPECT_EQ(acq.CurrentReading().value, 1.234);

    // The second START opens the port afresh and clears the pending mark, so the next
    // reading is stored after the first run's.
    ASSERT_TRUE(Start());
    EXPECT_TRUE(acq.IsRunning());
    const Frame second = Encode("-0.52", 12);
    ASSERT_TRUE(pty.Write(second));
    ASSERT_TRUE(WaitFrames(2));
    EXPECT_EQ(frames[1], second);
    EXPECT_EQ(acq.CurrentReading().value, -0.52);
    EXPECT_EQ(acq.CurrentReading().functionCode, 12);
    EXPECT_TRUE(WaitUntil([&] { return history.Count() == 2; }, 1000));
    EXPECT_EQ(history.Value(0), 1.234);
    EXPECT_EQ(history.Value(1), -0.52);
}

TEST_F(AcquisitionTest, MissingDeviceFailsAndLeavesItIdleThenAGoodPortStarts) {
    const auto r = acq.StartAcquisition(QStringLiteral("/dev/zelvox-no-such-port"), 120);
    EXPECT_EQ(r.status, Acquisition::StartStatus::OpenPortFailed);
    EXPECT_EQ(r.errorCode, ENOENT);
    EXPECT_EQ(r.reason, QStringLiteral("No such file or directory"));
    EXPECT_FALSE(acq.IsRunning());
    EXPECT_TRUE(PortFree());

    ASSERT_TRUE(Start());
    ASSERT_TRUE(pty.Write(Numbered(7)));
    ASSERT_TRUE(WaitFrames(1));
    EXPECT_EQ(acq.CurrentReading().value, 7.0);
}

TEST_F(AcquisitionTest, StartWhileOpenIsRefusedAndTheRunGoesOn) {
    ASSERT_TRUE(Start());
    EXPECT_EQ(acq.StartAcquisition(pty.SlavePath(), 60).status, Acquisition::StartStatus::PortAlreadyOpen);
    EXPECT_TRUE(acq.IsRunning());
    ASSERT_TRUE(pty.Write(Numbered(3)));
    ASSERT_TRUE(WaitFrames(1));
}

TEST_F(AcquisitionTest, AWorkerThatCannotStartLeavesNothingBehind) {
    // Fails to start worker `failing` (1 the reader, 2 the sampling thread; 0 none), as a
    // system with no threads left does.
    std::atomic<int> failing{0};
    Acquisition starting(history, [&](int worker, std::function<void()> body) {
        if (worker == failing.load())
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        return std::thread(std::move(body));
    });
    for (int worker : {1, 2}) {
        failing = worker;
        const auto r = starting.StartAcquisition(pty.SlavePath(), 120);
        EXPECT_EQ(r.status, Acquisition::StartStatus::ThreadFailed) << worker;
        EXPECT_FALSE(starting.IsRunning()) << worker;
        EXPECT_TRUE(PortFree()) << "port left open, worker " << worker;
    }
    failing = 0;
    ASSERT_EQ(starting.StartAcquisition(pty.SlavePath(), 120).status, Acquisition::StartStatus::Started);
    ASSERT_TRUE(pty.Write(Numbered(5)));
    EXPECT_TRUE(WaitUntil([&] { return starting.CurrentReading().value == 5.0; }));
    starting.StopAcquisition();
}

TEST_F(AcquisitionTest, NoisyLineAndSplitFramesYieldExactlyTheGoodFramesInOrder) {
    ASSERT_TRUE(Start());
    const Frame a = Encode("12.34", 2), b = Encode("OL", 12), c = Encode("-5.678", 6);
    Frame badSum = Encode("1.111", 1);
    badSum[19] ^= 0x01;
    Frame badNibble = Encode("2.222", 1);
    badNibble[5] |= 0x20;
    badNibble[19] = static_cast<std::uint8_t>(badNibble[19] + 0x20);

    std::vector<std::vector<std::uint8_t>> pieces;
    pieces.push_back({0x00, 0x13, 0xFF, 0x7E}); // a meter switched on mid-frame
    pieces.push_back({a.begin(), a.begin() + 1});
    pieces.push_back({a.begin() + 1, a.begin() + 8});
    pieces.push_back({a.begin() + 8, a.end()});
    pieces.push_back({badSum.begin(), badSum.end()});
    pieces.push_back({0x5A});
    pieces.push_back({b.begin(), b.end()});
    pieces.push_back({badNibble.begin(), badNibble.end()});
    pieces.push_back({c.begin(), c.begin() + 13});
    pieces.push_back({c.begin() + 13, c.end()});
    for (const auto& piece : pieces) {
        ASSERT_TRUE(pty.Write(piece));
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    ASSERT_TRUE(WaitFrames(3));
    SpinFor(100); // nothing else may follow
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0], a);
    EXPECT_EQ(frames[1], b);
    EXPECT_EQ(frames[2], c);
    const Reading r = acq.CurrentReading();
    EXPECT_EQ(r.value, -5.678);
    EXPECT_EQ(r.functionCode, 6);
    EXPECT_EQ(r.pointPosition, 1);
}

TEST_F(AcquisitionTest, SamplingDispatchesOncePerPeriodWithTheFirstFrameAfterTheLastDispatch) {
    // Frames numbered 0, 1, 2... every 40 ms; 120 per minute gives a 500 ms period.
    struct Dispatch {
        qint64 atMs;
        int lastAccepted; // number of the last frame the UI had seen
        double stored;    // what the history holds for this period
        double current;   // the reading handed out
    };
    std::vector<Dispatch> dispatches;
    QElapsedTimer clock;
    QObject::connect(&acq, &Acquisition::dispatchRequested, &acq, [&] {
        const int count = history.Count();
        ASSERT_GT(count, 0);
        dispatches.push_back(
            {clock.elapsed(), frames.empty() ? -1 : static_cast<int>(DecodeFrame(frames.back()).value),
             history.Value(static_cast<std::size_t>(count - 1)), acq.CurrentReading().value});
        history.readingPending.store(0); // what the dispatch does last
    });
    ASSERT_TRUE(Start(120));
    clock.start();
    std::atomic<bool> done{false};
    std::thread meter([&] {
        for (int n = 0; n < 100 && !done; ++n) {
            pty.Write(Numbered(n));
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    });
    WaitUntil([&] { return dispatches.size() >= 5; }, 4000);
    done = true;
    meter.join();
    ASSERT_GE(dispatches.size(), 5u);

    EXPECT_EQ(dispatches[0].stored, 0.0) << "the first frame of the run is the first stored";
    for (std::size_t i = 1; i < dispatches.size(); ++i) {
        const qint64 gap = dispatches[i].atMs - dispatches[i - 1].atMs;
        EXPECT_GE(gap, 480) << "dispatch " << i;
        EXPECT_LT(gap, 800) << "dispatch " << i;
        // Stored: the first frame accepted after the previous dispatch cleared the mark,
        // not the latest one.
        EXPECT_GT(dispatches[i].stored, dispatches[i - 1].stored);
        EXPECT_LE(dispatches[i].stored, dispatches[i - 1].lastAccepted + 2) << "dispatch " << i;
        EXPECT_GE(dispatches[i].current, dispatches[i].stored + 8) << "dispatch " << i;
    }
    EXPECT_EQ(history.Count(), static_cast<int>(dispatches.size()) + history.readingPending.load());
}

TEST_F(AcquisitionTest, RowsComeAPeriodPlusTheWaitForTheNextFrameApart) {
    // 120 per minute: the 500 ms period starts when a reading is stored after the last row,
    // so rows are never closer than the period plus the 5 ms timer.
    ASSERT_TRUE(Start(120));
    const std::vector<double> slow = RowGaps(acq, history, pty, 300, 12, 14000);
    ASSERT_EQ(slow.size(), 12u);
    double sum = 0;
    for (double gap : slow)
        sum += gap;
    // A frame every 300 ms adds 150 ms on average to each period.
    EXPECT_GE(sum / 12, 560.0);
    EXPECT_LE(sum / 12, 800.0);
    EXPECT_GE(*std::min_element(slow.begin(), slow.end()), 503.0);

    acq.StopAcquisition();
    ASSERT_TRUE(Start(120));
    const std::vector<double> fast = RowGaps(acq, history, pty, 50, 12, 14000);
    ASSERT_EQ(fast.size(), 12u);
    EXPECT_GE(*std::min_element(fast.begin(), fast.end()), 503.0);
}

TEST_F(AcquisitionTest, StopReturnsPromptlyAtOneReadingPerMinute) {
    ASSERT_TRUE(Start(1));
    ASSERT_TRUE(pty.Write(Numbered(1)));
    ASSERT_TRUE(WaitFrames(1));
    // Now the sampling thread sleeps its 60 s period and the reader waits on a silent line.
    SpinFor(50);
    ASSERT_EQ(history.readingPending.load(), 1);
    QElapsedTimer timer;
    timer.start();
    acq.StopAcquisition();
    const qint64 took = timer.elapsed();
    EXPECT_LT(took, 300) << "STOP took " << took << " ms";
    EXPECT_FALSE(acq.IsRunning());
    EXPECT_TRUE(PortFree());
}

TEST_F(AcquisitionTest, UnpluggedAdapterNeitherSpinsNorBlocksStop) {
    ASSERT_TRUE(Start(120));
    ASSERT_TRUE(pty.Write(Numbered(4)));
    ASSERT_TRUE(WaitFrames(1));
    pty.CloseMaster(); // every read now fails at once
    SpinFor(50);
    const double cpuBefore = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    EXPECT_LT(cpu, 0.25) << "the reader spins on a dead port: " << cpu << " s of CPU in 1 s";
    EXPECT_TRUE(acq.IsRunning());
    EXPECT_EQ(acq.CurrentReading().value, 4.0);
    // The port is closed between two tries to reopen it: START is still refused.
    EXPECT_EQ(acq.StartAcquisition(pty.SlavePath(), 120).status, Acquisition::StartStatus::PortAlreadyOpen);

    // The reader waits a second between tries to reopen the port: a stop that waited for the
    // next try would take up to that second, well past this bound even on a loaded machine.
    QElapsedTimer timer;
    timer.start();
    acq.StopAcquisition();
    EXPECT_LT(timer.elapsed(), 700);
}

TEST_F(AcquisitionTest, PausedWorkersLeaveTheLineAloneAndResumeMidFrame) {
    int dispatchCount = 0;
    QObject::connect(&acq, &Acquisition::dispatchRequested, &acq, [&] {
        ++dispatchCount;
        history.readingPending.store(0);
    });
    ASSERT_TRUE(Start(120));
    ASSERT_TRUE(pty.Write(Numbered(1)));
    ASSERT_TRUE(WaitUntil([&] { return dispatchCount == 1; }, 2000));

    // The reader is blocked waiting for a start byte; the pause takes effect after that read.
    WorkerPause pause = acq.PauseWorkers();
    SpinFor(30);
    const Frame half = Numbered(2);
    ASSERT_TRUE(pty.Write(std::vector<std::uint8_t>(half.begin(), half.begin() + 9)));
    SpinFor(30);
    ASSERT_TRUE(pty.Write(std::vector<std::uint8_t>(half.begin() + 9, half.end())));
    ASSERT_TRUE(pty.Write(Numbered(3)));
    SpinFor(800);
    EXPECT_EQ(frames.size(), 1u) << "frames were read while paused";
    EXPECT_EQ(dispatchCount, 1) << "a dispatch was requested while paused";
    EXPECT_EQ(history.Count(), 1);

    pause.Release();
    ASSERT_TRUE(WaitFrames(3));
    EXPECT_EQ(frames[1], half) << "the frame begun before the pause was lost";
    EXPECT_EQ(frames[2], Numbered(3));
    ASSERT_TRUE(WaitUntil([&] { return dispatchCount == 2; }, 2000));
    EXPECT_EQ(history.Value(1), 2.0);
}

TEST_F(AcquisitionTest, APauseDuringTheSamplingPeriodHoldsTheDispatchBack) {
    std::vector<qint64> dispatchedAt;
    QElapsedTimer clock;
    QObject::connect(&acq, &Acquisition::dispatchRequested, &acq, [&] {
        dispatchedAt.push_back(clock.elapsed());
        history.readingPending.store(0);
    });
    ASSERT_TRUE(Start(120)); // 500 ms period
    ASSERT_TRUE(pty.Write(Numbered(1)));
    ASSERT_TRUE(WaitFrames(1));
    clock.start(); // the period began when the reading was stored
    SpinFor(200);
    WorkerPause pause = acq.PauseWorkers();
    SpinFor(1000);
    EXPECT_TRUE(dispatchedAt.empty()) << "dispatch requested " << dispatchedAt.front() << " ms into a pause";
    pause.Release();
    ASSERT_TRUE(WaitUntil([&] { return !dispatchedAt.empty(); }, 2000));
    EXPECT_GE(dispatchedAt.front(), 1200 + 480) << "less than a period after the pause";
}

TEST_F(AcquisitionTest, ALateDispatchIsAskedForAgainAfterEachFurtherPeriod) {
    std::vector<qint64> requestedAt;
    QElapsedTimer clock;
    QObject::connect(&acq, &Acquisition::dispatchRequested, &acq, [&] {
        requestedAt.push_back(clock.elapsed());
        if (requestedAt.size() == 3)
            history.readingPending.store(0); // the UI gets to it at the third request
    });
    ASSERT_TRUE(Start(120));
    ASSERT_TRUE(pty.Write(Numbered(1)));
    ASSERT_TRUE(WaitFrames(1));
    clock.start();
    ASSERT_TRUE(WaitUntil([&] { return requestedAt.size() >= 3; }, 3000));
    EXPECT_GE(requestedAt[1] - requestedAt[0], 480);
    EXPECT_GE(requestedAt[2] - requestedAt[1], 480);
    // Dispatched, and no newer reading: no further request.
    SpinFor(1200);
    EXPECT_EQ(requestedAt.size(), 3u);
    ASSERT_TRUE(pty.Write(Numbered(2)));
    ASSERT_TRUE(WaitUntil([&] { return requestedAt.size() == 4; }, 1500));
    EXPECT_EQ(history.Count(), 2);
}

TEST_F(AcquisitionTest, StreamingDemoDisplaysReachTheUiInOrderEachChangeOnce) {
    std::vector<Frame> sent;
    QString error;
    ASSERT_TRUE(ScenarioFrames(DemoScenario(3), &sent, &error)) << error.toStdString();
    sent.resize(60);
    // A display the UI already shows is not handed over again.
    std::vector<Frame> changes;
    std::unique_copy(sent.begin(), sent.end(), std::back_inserter(changes));
    ASSERT_LT(changes.size(), sent.size()) << "the demo repeats no display";
    ASSERT_TRUE(Start(120));
    std::thread meter([&] {
        for (const Frame& f : sent)
            pty.Write(f); // back to back, faster than any meter
    });
    ASSERT_TRUE(WaitFrames(changes.size(), 5000));
    meter.join();
    SpinFor(400); // every frame read (5 ms pause after each): none more is handed over
    EXPECT_EQ(frames, changes);
    EXPECT_EQ(acq.CurrentReading().value, DecodeFrame(sent.back()).value);
}

} // namespace
} // namespace zelvox
