// Row spacing as the control panel makes rows: each dispatch request arms a 5 ms timer whose tick
// records the row and clears the pending mark, while a meter writes a numbered frame into the
// pseudo-terminal every frameEveryMs. Shared by the acquisition test and the link benchmark.
#pragma once

#include "decode/FrameEncoder.h"
#include "link/Acquisition.h"
#include "support/EventLoop.h"
#include "support/Pty.h"

#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace zelvox::testing {

// Runs until more than `rows` rows have come or timeoutMs has passed; returns the gaps between
// the rows in ms. The acquisition must be running on the pty.
inline std::vector<double> RowGaps(Acquisition& acq, ReadingHistory& history, Pty& pty, int frameEveryMs,
                                   int rows, int timeoutMs) {
    std::vector<double> at;
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    tick.setSingleShot(true);
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        at.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        history.readingPending.store(0);
    });
    QObject::connect(&acq, &Acquisition::dispatchRequested, &tick, [&] { tick.start(); });
    std::atomic<bool> done{false};
    std::thread meter([&] {
        for (int n = 0; !done; n = (n + 1) % 10000) {
            pty.Write(*EncodeReading(std::to_string(n), 1));
            std::this_thread::sleep_for(std::chrono::milliseconds(frameEveryMs));
        }
    });
    WaitUntil([&] { return at.size() > static_cast<std::size_t>(rows); }, timeoutMs);
    done = true;
    meter.join();
    std::vector<double> gaps;
    for (std::size_t i = 1; i < at.size(); ++i)
        gaps.push_back(at[i] - at[i - 1]);
    return gaps;
}

} // namespace zelvox::testing
