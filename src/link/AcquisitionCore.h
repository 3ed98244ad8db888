// The reading side of the serial link, shared by the window and the headless logger: the open
// port, the reader thread (framer, frame check, decoder, history) and the sampling thread that
// paces the dispatch, and what the link says about itself (silent, heard, lost, back). It has no
// QObject and needs no event loop: the workers queue what they have for the owner's thread and
// make WakeFd() readable; the owner waits on that descriptor its own way (a socket notifier in
// the window, poll() in the logger) and takes the queue with Deliver().
#pragma once

#include "decode/Frame.h"
#include "decode/Reading.h"
#include "decode/ReadingHistory.h"
#include "link/LinkEvent.h"
#include "link/Settings.h"
#include "link/StartResult.h"
#include "link/WorkerPause.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace zelvox {

// True when a read that failed with this errno (0: the device hung up) means the device went
// away, as an unplugged adapter does; false for any other failure of a port that is still there.
bool IsUnplugged(int error);
// True when an open that failed with this errno means the device is not there (yet).
bool IsAbsent(int error);

class AcquisitionCore {
public:
    // Starts worker 1 (the reader) or 2 (the sampling thread) running `body`; START reports
    // ThreadFailed when it throws std::system_error, as std::thread does when the system has
    // no threads left. Tests pass one that fails.
    using WorkerStarter = std::function<std::thread(int worker, std::function<void()> body)>;

    // A running link that has accepted no frame for this long says so (LinkEvent::Silent).
    static constexpr std::chrono::milliseconds kSilenceLimit{5000};
    // A lost port is tried again this often.
    static constexpr std::chrono::milliseconds kReopenEvery{1000};

    struct Options {
        // Readings per minute (1..120, clamped); 0: no sampling thread, every accepted frame is a
        // dispatch of its own reading.
        int samplingRate = kMaxSamplingRate;
        // Hand over the first frame and every frame whose display differs from the one handed
        // over before (the window's segment mirror).
        bool mirrorFrames = true;
        // A device that is not there at START is waited for (LinkEvent::Absent, then Back) the
        // way a lost one is, instead of failing START.
        bool waitForPort = false;
    };

    // One hand-off from the workers to the owner's thread, in the order they happened.
    struct Event {
        enum Kind { kFrame, kDispatch, kLink };
        Kind kind = kFrame;
        Frame frame{};                     // kFrame
        Reading reading{};                 // kDispatch at samplingRate 0: the frame's reading
        LinkEvent link = LinkEvent::Heard; // kLink
        int error = 0;                     // kLink Lost: the failed read's errno (0: hung up)
    };

    // What runs on the reader thread, before anything about it is handed over: what must see
    // every accepted frame (limits that an 83 ms excursion crosses) and the adapter coming and
    // going without waiting for the owner's thread, with deadlines of its own that the reader's
    // waits end in time for. None of it may block.
    class ReaderTap {
    public:
        virtual ~ReaderTap() = default;
        virtual void Frame(const Reading& reading) = 0;
        // The adapter went away (a lost port that hung up, one absent at START) or is back.
        virtual void Unplugged() = 0;
        virtual void Back() = 0;
        // Before each read and each wait for a lost port: handles what is due by now and
        // returns how long the reader may wait before it calls again.
        virtual std::chrono::milliseconds Poll() = 0;
    };

    explicit AcquisitionCore(ReadingHistory& history, WorkerStarter startWorker = {});
    ~AcquisitionCore(); // stops and joins both workers
    AcquisitionCore(const AcquisitionCore&) = delete;
    AcquisitionCore& operator=(const AcquisitionCore&) = delete;

    // Opens portName (a short name under /dev such as "ttyUSB0", or an absolute path),
    // configures it (2400 8N1, no flow control, DTR/RTS not raised), starts the workers, and
    // waits 100 ms. Refused (PortAlreadyOpen) while running, whatever the port's state.
    StartResult Start(const std::string& portName, const Options& options);
    // Ends the workers (bounded at any sampling rate), joins them and closes the port. Leaves
    // the current reading, the history and the undelivered events as they are.
    void Stop();
    bool IsRunning() const;

    // The last accepted frame's reading, read as one unit.
    Reading CurrentReading() const;
    ReadingHistory& History() { return history_; }

    // The workers skip their work while any pause lives (RESET, the exports).
    WorkerPause PauseWorkers() { return WorkerPause(paused_); }
    bool Paused() const { return paused_.load() != 0; }

    // Set before Start (not owned; it must outlive the run); null for none.
    void SetReaderTap(ReaderTap* tap);

    // Readable while events wait (an eventfd, non-blocking); Deliver() empties it.
    int WakeFd() const;
    // On the owner's thread: hands every waiting event to `take`, one at a time, in order.
    // `take` may run a nested event loop: an event is taken from the queue before it is handed on.
    void Deliver(const std::function<void(const Event&)>& take);

private:
    struct Impl;
    ReadingHistory& history_;
    std::atomic<int> paused_{0};
    std::unique_ptr<Impl> impl_;
};

} // namespace zelvox
