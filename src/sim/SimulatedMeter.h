// A simulated meter on a pseudo-terminal: the program opens the slave side like any serial
// port while a writer thread streams frames into the master at the meter's pace (2400 baud,
// 8N1: ten bit times per byte, about 83 ms per 20-byte frame).
#pragma once

#include "decode/Frame.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace zelvox {

struct SimulatedMeterOptions {
    int strayEvery = 0;           // before every n-th frame, 1 to 8 stray bytes (never 0xA5); 0: none
    int corruptEvery = 0;         // every n-th frame goes out damaged (bad checksum or a bad nibble)
    QString displaysFile;         // play these displays (see ParseDisplays) instead of the demo
    QString linkPath;             // a symbolic link to the slave, made at Start, removed at Stop
    long long frameLimit = 0;     // stop after this many frames; 0: stream until Stop
    unsigned seed = 1;            // demo values and noise
    double pace = 1.0;            // line speed factor: 2 sends twice as fast as the meter
    bool waitForListener = false; // hold the first frame until a program opens the port
    bool bytewise = false;        // one write per byte at the line's pace, as a UART delivers them
};

class SimulatedMeter {
public:
    SimulatedMeter();
    explicit SimulatedMeter(SimulatedMeterOptions options);
    ~SimulatedMeter(); // Stop()

    // Creates the pseudo-terminal (raw mode), the optional link and the writer thread.
    bool Start(QString* error = nullptr);
    // Ends the writer at once (it waits interruptibly), joins it, closes the pty, removes the link.
    void Stop();

    // The slave's path (/dev/pts/N), empty before Start.
    QString SlavePath() const { return slavePath_; }
    bool Running() const;
    // Blocks until the frame limit is reached or Stop is called.
    void WaitFinished();
    long long FramesSent() const { return framesSent_.load(); }

    // The frames one loop of the scenario sends (without noise).
    const std::vector<Frame>& Scenario() const { return frames_; }

private:
    void WriterBody();
    bool WaitForListener(); // false when stopped first
    void Finish();
    void WriteAll(const std::uint8_t* data, std::size_t n);

    SimulatedMeterOptions options_;
    std::vector<Frame> frames_;
    int masterFd_ = -1;
    QString slavePath_;
    bool linkMade_ = false;
    std::thread writer_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool finished_ = true;
    std::atomic<long long> framesSent_{0};
};

} // namespace zelvox
