#include "link/AcquisitionCore.h"

#include "decode/Decoder.h"
#include "link/SerialPort.h"

#include <QString>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace zelvox {

bool IsUnplugged(int error) {
    // A device that went away hangs up (end of file) or fails with EIO, ENODEV or ENXIO.
    return error == 0 || error == EIO || error == ENODEV || error == ENXIO;
}

bool IsAbsent(int error) {
    return error == ENOENT || error == ENODEV || error == ENXIO;
}

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
using Event = AcquisitionCore::Event;

constexpr milliseconds kPausedPoll{10};   // how often an idle worker looks at the pause again
constexpr milliseconds kRetryDelay{10};   // after a read that was cancelled but not by STOP
constexpr milliseconds kFramePause{5};    // after each accepted frame
constexpr milliseconds kStartSettle{100}; // START waits this long before reporting success
constexpr std::size_t kMaxQueued = 4096;  // events held for an owner that does not take them

Event DispatchEvent(const Reading& reading = {}) {
    Event event;
    event.kind = Event::kDispatch;
    event.reading = reading;
    return event;
}

Event LinkChange(LinkEvent link, int error = 0) {
    Event event;
    event.kind = Event::kLink;
    event.link = link;
    event.error = error;
    return event;
}

} // namespace

struct AcquisitionCore::Impl {
    explicit Impl(AcquisitionCore* owner)
        : q(owner), port(CreateSerialPort()), wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        if (wakeFd < 0) {
            std::fprintf(stderr, "eventfd: %s\n", std::strerror(errno));
            std::abort();
        }
    }

    ~Impl() { ::close(wakeFd); }

    AcquisitionCore* q;
    std::unique_ptr<SerialPort> port;
    std::thread reader;
    std::thread sampler;
    std::atomic<int> run{0};
    QString portName; // set by START before the workers run; the reader reopens it
    Options options;
    WorkerStarter startWorker;
    ReaderTap* tap = nullptr;

    // Every wait of both workers ends at once when `stopping` is set.
    std::mutex wakeMutex;
    std::condition_variable wake;
    bool stopping = false;

    mutable std::mutex readingMutex;
    Reading reading;

    // Reader thread only while running; START resets it before the workers start.
    Framer framer;
    // The last frame handed over; none before the first frame of a run.
    std::optional<Frame> lastHandedOver;
    // When the reader last accepted a frame (or began to listen), and whether it has said
    // that the line is silent. Reader thread only.
    Clock::time_point heardAt{};
    bool silent = false;
    // Readings the reader has stored in the history; the sampling thread waits for it to move.
    std::atomic<std::uint64_t> storedCount{0};

    // Worker to owner hand-off: the queue, and the eventfd a worker signals when the queue
    // stops being empty.
    std::mutex queueMutex;
    std::deque<Event> queue;
    const int wakeFd;

    // Sleeps d unless STOP comes first; false when stopping.
    bool Pause(milliseconds d) {
        std::unique_lock<std::mutex> lock(wakeMutex);
        return !wake.wait_for(lock, d, [this] { return stopping; });
    }

    void RequestStop() {
        {
            std::lock_guard<std::mutex> lock(wakeMutex);
            stopping = true;
        }
        wake.notify_all();
        port->Cancel();
    }

    bool StopRequested() {
        std::lock_guard<std::mutex> lock(wakeMutex);
        return stopping;
    }

    void Notify() {
        { std::lock_guard<std::mutex> lock(wakeMutex); }
        wake.notify_all();
    }

    bool Paused() const { return q->paused_.load() != 0; }

    std::thread StartWorker(int which, void (Impl::*body)()) {
        if (startWorker)
            return startWorker(which, [this, body] { (this->*body)(); });
        return std::thread(body, this);
    }

    void ReaderBody();
    void LimitReadToSilence();
    bool Reopen(int error);
    bool WaitForPort();
    void SamplerBody();
    void OnFrame(const Frame& frame);
    void Post(const Event& event);
};

void AcquisitionCore::Impl::ReaderBody() {
    ::pthread_setname_np(::pthread_self(), "zelvox-reader"); // for top, perf and the link bench
    // A port that was not there at START is waited for before anything is read.
    if (!port->IsOpen()) {
        if (tap)
            tap->Unplugged();
        if (!WaitForPort())
            return;
    }
    std::uint8_t buffer[kFrameSize];
    while (run.load() != 0) {
        if (Paused()) {
            heardAt = Clock::now(); // the line is not listened to: its silence does not count
            if (!Pause(kPausedPoll))
                break;
            continue;
        }
        // Blocks until the bytes the framer wants are in, a time-out runs out or STOP cancels.
        // While hunting the framer takes one byte at a time, but it takes any chunk alike: ask
        // for a whole frame, which (starting at a start byte) is exactly the next frame, so
        // that it arrives in one read instead of a start byte and then the rest.
        const std::size_t wanted = framer.Synchronised() ? framer.BytesWanted() : kFrameSize;
        LimitReadToSilence();
        const ReadResult result = port->Read(buffer, wanted);
        // A pause that began during the read holds these bytes back until it ends: nothing is
        // decoded or stored while paused.
        bool stopped = false;
        while (result.count > 0 && Paused() && !stopped)
            stopped = !Pause(kPausedPoll);
        if (stopped)
            break;
        if (result.count > 0)
            framer.Feed(buffer, result.count, [this](const Frame& frame) { OnFrame(frame); });
        if (result.status == ReadStatus::Failed) {
            // The device went away (an unplugged adapter hangs up or fails every read at
            // once): let go of it, so that it can come back under its name, and reopen it.
            if (!Reopen(result.error))
                break;
        } else if (result.status == ReadStatus::Cancelled) {
            if (!Pause(kRetryDelay))
                break;
        }
    }
}

// A read on a line that has not been heard from yet ends in time to say that it is silent, and
// every read in time for the tap's next deadline.
void AcquisitionCore::Impl::LimitReadToSilence() {
    ReadTimeouts timeouts;
    if (tap) {
        const long long due = std::max<long long>(1, tap->Poll().count());
        timeouts.totalConstantMs = static_cast<int>(std::min<long long>(timeouts.totalConstantMs, due));
    }
    if (!silent) {
        const auto left = std::chrono::ceil<milliseconds>(heardAt + kSilenceLimit - Clock::now());
        if (left.count() <= 0) {
            silent = true;
            Post(LinkChange(LinkEvent::Silent));
        } else {
            timeouts.totalConstantMs =
                static_cast<int>(std::min<long long>(timeouts.totalConstantMs, left.count()));
        }
    }
    port->SetTimeouts(timeouts);
}

// Closes the failed port, says so, and opens it again every kReopenEvery. True when it is back,
// false when STOP came first.
bool AcquisitionCore::Impl::Reopen(int error) {
    port->Close();
    Post(LinkChange(LinkEvent::Lost, error));
    if (tap && IsUnplugged(error))
        tap->Unplugged();
    return WaitForPort();
}

bool AcquisitionCore::Impl::WaitForPort() {
    framer.Reset();
    silent = false;
    auto tryAt = Clock::now() + kReopenEvery;
    for (;;) {
        // The tap's deadlines go on while the port is away.
        auto wait = std::chrono::ceil<milliseconds>(tryAt - Clock::now());
        if (tap)
            wait = std::min(wait, tap->Poll());
        if (!Pause(std::max(wait, milliseconds(0))))
            return false;
        if (Clock::now() < tryAt)
            continue;
        tryAt = Clock::now() + kReopenEvery;
        if (!port->Open(portName, nullptr))
            continue;
        // Opening clears a cancel that STOP may have sent meanwhile; STOP raised `stopping`
        // first, so it is seen here.
        if (StopRequested())
            return false;
        heardAt = Clock::now();
        Post(LinkChange(LinkEvent::Back));
        if (tap)
            tap->Back();
        return true;
    }
}

void AcquisitionCore::Impl::OnFrame(const Frame& frame) {
    heardAt = Clock::now();
    if (silent) {
        silent = false;
        Post(LinkChange(LinkEvent::Heard));
    }
    const Reading decoded = DecodeFrame(frame);
    if (tap)
        tap->Frame(decoded);
    {
        std::lock_guard<std::mutex> lock(readingMutex);
        reading = decoded;
    }
    // The mirror request goes out before the reading can be stored, so the owner never
    // dispatches a reading whose frame it has not mirrored yet. A meter repeats its display
    // several times a second: a frame whose display the owner already has is not handed over
    // (an accepted frame's start byte and checksum follow from its display bytes).
    if (options.mirrorFrames && (!lastHandedOver || *lastHandedOver != frame)) {
        lastHandedOver = frame;
        Event event;
        event.frame = frame;
        Post(event);
    }
    if (options.samplingRate == 0) {
        Post(DispatchEvent(decoded));
    } else if (q->history_.StoreReading(decoded)) {
        storedCount.fetch_add(1);
        Notify(); // the sampling thread waits for a newly stored reading
    }
    // The pause after a frame is sat out inside the next read, together with the wait for
    // the rest of the next frame.
    port->HoldOff(kFramePause);
}

void AcquisitionCore::Impl::SamplerBody() {
    ::pthread_setname_np(::pthread_self(), "zelvox-sampler");
    const milliseconds period = SamplingPeriod(options.samplingRate);
    ReadingHistory& history = q->history_;
    const auto pending = [&] { return history.readingPending.load() == 1; };
    const auto paused = [&] { return Paused(); };
    while (run.load() != 0) {
        {
            std::unique_lock<std::mutex> lock(wakeMutex);
            // The reader notifies when it stores a reading; nobody announces the end of a
            // pause, so only while paused is the flag looked at again every 10 ms.
            while (!stopping && !(!paused() && pending())) {
                if (paused())
                    wake.wait_for(lock, kPausedPoll);
                else
                    wake.wait(lock);
            }
            if (stopping)
                break;
        }
        if (!Pause(period))
            break;
        // A pause that began during the period holds the request back until a period after
        // it ends: RESET and the exports never see a dispatch in the middle of their work.
        if (!pending() || paused())
            continue;
        // The next period starts only once this reading has been dispatched and a newer one
        // stored (the reader stores only after the dispatch cleared the mark), so rows are at
        // least a period apart. A dispatch that is late is asked for again after each further
        // period; one that came leaves the wait to the next stored reading.
        const std::uint64_t stored = storedCount.load();
        Post(DispatchEvent());
        std::unique_lock<std::mutex> lock(wakeMutex);
        while (!stopping && storedCount.load() == stored) {
            if (!pending()) {
                wake.wait(lock);
                continue;
            }
            if (wake.wait_for(lock, period, [&] { return stopping || storedCount.load() != stored; }))
                break;
            if (paused())
                break; // back to the top: a full period after the pause ends
            if (pending())
                Post(DispatchEvent());
        }
        if (stopping)
            break;
    }
}

void AcquisitionCore::Impl::Post(const Event& event) {
    bool wakeOwner = false;
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        wakeOwner = queue.empty();
        if (queue.size() >= kMaxQueued)
            queue.pop_front(); // the mirror compares against what it showed last: nothing breaks
        queue.push_back(event);
    }
    if (wakeOwner) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
    }
}

AcquisitionCore::AcquisitionCore(ReadingHistory& history, WorkerStarter startWorker)
    : history_(history), impl_(std::make_unique<Impl>(this)) {
    impl_->startWorker = std::move(startWorker);
}

AcquisitionCore::~AcquisitionCore() {
    Stop();
}

void AcquisitionCore::SetReaderTap(ReaderTap* tap) {
    impl_->tap = tap;
}

StartResult AcquisitionCore::Start(const std::string& portName, const Options& options) {
    StartResult result;
    // A running link may be between two tries to reopen its port: the port being closed then
    // does not make a second START possible.
    if (IsRunning() || impl_->port->IsOpen()) {
        result.status = StartStatus::PortAlreadyOpen;
        return result;
    }
    const QString name = QString::fromLocal8Bit(portName.c_str());
    PortError error;
    if (!impl_->port->Open(name, &error) && !(options.waitForPort && IsAbsent(error.code))) {
        result.status = StartStatus::OpenPortFailed;
        result.reason = error.reason;
        result.errorCode = error.code;
        return result;
    }
    impl_->portName = name;
    impl_->options = options;
    if (options.samplingRate != 0)
        impl_->options.samplingRate = std::clamp(options.samplingRate, kMinSamplingRate, kMaxSamplingRate);
    impl_->framer.Reset();
    impl_->lastHandedOver.reset();
    impl_->heardAt = Clock::now();
    impl_->silent = false;
    history_.readingPending.store(0);
    {
        std::lock_guard<std::mutex> lock(impl_->wakeMutex);
        impl_->stopping = false;
    }
    if (!impl_->port->IsOpen())
        impl_->Post(LinkChange(LinkEvent::Absent, error.code));
    impl_->run.store(1);
    try {
        impl_->reader = impl_->StartWorker(1, &Impl::ReaderBody);
        if (impl_->options.samplingRate != 0)
            impl_->sampler = impl_->StartWorker(2, &Impl::SamplerBody);
    } catch (const std::system_error&) {
        impl_->run.store(0);
        impl_->RequestStop();
        if (impl_->reader.joinable())
            impl_->reader.join();
        impl_->port->Close();
        result.status = StartStatus::ThreadFailed;
        return result;
    }
    std::this_thread::sleep_for(kStartSettle);
    return result;
}

void AcquisitionCore::Stop() {
    impl_->run.store(0);
    impl_->RequestStop();
    // Every wait of both workers ends on the stop request, so these joins are short.
    if (impl_->reader.joinable())
        impl_->reader.join();
    if (impl_->sampler.joinable())
        impl_->sampler.join();
    impl_->port->Close();
}

bool AcquisitionCore::IsRunning() const {
    return impl_->run.load() != 0;
}

Reading AcquisitionCore::CurrentReading() const {
    std::lock_guard<std::mutex> lock(impl_->readingMutex);
    return impl_->reading;
}

int AcquisitionCore::WakeFd() const {
    return impl_->wakeFd;
}

void AcquisitionCore::Deliver(const std::function<void(const Event&)>& take) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(impl_->wakeFd, &count, sizeof count);
    for (;;) {
        Event event;
        {
            std::lock_guard<std::mutex> lock(impl_->queueMutex);
            if (impl_->queue.empty())
                return;
            event = impl_->queue.front();
            impl_->queue.pop_front();
        }
        take(event);
    }
}

} // namespace zelvox
