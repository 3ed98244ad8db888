#include "link/Acquisition.h"

#include "decode/Decoder.h"
#include "link/SerialPort.h"
#include "link/Settings.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
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

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kPausedPoll{10};   // how often an idle worker looks at `paused` again
constexpr milliseconds kRetryDelay{10};   // after a read that was cancelled but not by STOP
constexpr milliseconds kFramePause{5};    // after each accepted frame
constexpr milliseconds kStartSettle{100}; // START waits this long before reporting success
constexpr std::size_t kMaxQueued = 4096;  // frames held for a UI thread that does not drain them

// One hand-off from a worker to the UI thread.
struct UiEvent {
    enum Kind { kFrame, kDispatch, kLink };
    Kind kind = kFrame;
    Frame frame{};                     // kFrame: for the segment mirror
    LinkEvent link = LinkEvent::Heard; // kLink
    int error = 0;                     // kLink: the failed read's errno
};

UiEvent DispatchEvent() {
    UiEvent event;
    event.kind = UiEvent::kDispatch;
    return event;
}

UiEvent LinkUiEvent(LinkEvent link, int error = 0) {
    UiEvent event;
    event.kind = UiEvent::kLink;
    event.link = link;
    event.error = error;
    return event;
}

} // namespace

struct Acquisition::Impl {
    // Runs on the UI thread (the owner's constructor): the wake-up notifier belongs to it.
    explicit Impl(Acquisition* owner)
        : q(owner), port(CreateSerialPort()), uiWakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        if (uiWakeFd < 0)
            qFatal("eventfd: %s", strerror(errno));
        uiWake = std::make_unique<QSocketNotifier>(uiWakeFd, QSocketNotifier::Read);
        QObject::connect(uiWake.get(), &QSocketNotifier::activated, q, [this] {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(uiWakeFd, &count, sizeof count);
            Deliver();
        });
    }

    ~Impl() {
        uiWake.reset();
        ::close(uiWakeFd);
    }

    Acquisition* q;
    std::unique_ptr<SerialPort> port;
    std::thread reader;
    std::thread sampler;
    std::atomic<int> run{0};
    QString portName; // set by START before the workers run; the reader reopens it
    int samplingRate = kMaxSamplingRate;
    WorkerStarter startWorker;

    // Every wait of both workers ends at once when `stopping` is set.
    std::mutex wakeMutex;
    std::condition_variable wake;
    bool stopping = false;

    mutable std::mutex readingMutex;
    Reading reading;

    // Reader thread only while running; START resets it before the workers start.
    Framer framer;
    // The last frame handed to the UI thread; none before the first frame of a run.
    std::optional<Frame> lastHandedOver;
    // When the reader last accepted a frame (or began to listen), and whether it has said
    // that the line is silent. Reader thread only.
    Clock::time_point heardAt{};
    bool silent = false;
    // Readings the reader has stored in the history; the sampling thread waits for it to move.
    std::atomic<std::uint64_t> storedCount{0};

    // Worker to UI hand-off: the queue, and an eventfd watched by the UI thread's event loop
    // that a worker signals when the queue stops being empty.
    std::mutex queueMutex;
    std::deque<UiEvent> queue;
    int uiWakeFd = -1;
    std::unique_ptr<QSocketNotifier> uiWake;

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

    std::thread StartWorker(int which, void (Impl::*body)()) {
        if (startWorker)
            return startWorker(which, [this, body] { (this->*body)(); });
        return std::thread(body, this);
    }

    void ReaderBody();
    void LimitReadToSilence();
    bool Reopen(int error);
    void SamplerBody();
    void OnFrame(const Frame& frame);
    void Post(const UiEvent& event);
    void Deliver();
};

void Acquisition::Impl::ReaderBody() {
    ::pthread_setname_np(::pthread_self(), "zelvox-reader"); // for top, perf and the link bench
    std::uint8_t buffer[kFrameSize];
    while (run.load() != 0) {
        if (q->paused.load() != 0) {
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
        while (result.count > 0 && q->paused.load() != 0 && !stopped)
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

// A read on a line that has not been heard from yet ends in time to say that it is silent.
void Acquisition::Impl::LimitReadToSilence() {
    ReadTimeouts timeouts;
    if (!silent) {
        const auto left = std::chrono::ceil<milliseconds>(heardAt + kSilenceLimit - Clock::now());
        if (left.count() <= 0) {
            silent = true;
            Post(LinkUiEvent(LinkEvent::Silent));
        } else {
            timeouts.totalConstantMs =
                static_cast<int>(std::min<long long>(timeouts.totalConstantMs, left.count()));
        }
    }
    port->SetTimeouts(timeouts);
}

// Closes the failed port, says so, and opens it again every kReopenEvery. True when it is back,
// false when STOP came first.
bool Acquisition::Impl::Reopen(int error) {
    port->Close();
    framer.Reset();
    silent = false;
    Post(LinkUiEvent(LinkEvent::Lost, error));
    for (;;) {
        if (!Pause(kReopenEvery))
            return false;
        if (!port->Open(portName, nullptr))
            continue;
        // Opening clears a cancel that STOP may have sent meanwhile; STOP raised `stopping`
        // first, so it is seen here.
        if (StopRequested())
            return false;
        heardAt = Clock::now();
        Post(LinkUiEvent(LinkEvent::Back));
        return true;
    }
}

void Acquisition::Impl::OnFrame(const Frame& frame) {
    heardAt = Clock::now();
    if (silent) {
        silent = false;
        Post(LinkUiEvent(LinkEvent::Heard));
    }
    const Reading decoded = DecodeFrame(frame);
    {
        std::lock_guard<std::mutex> lock(readingMutex);
        reading = decoded;
    }
    // The mirror request goes out before the reading can be stored, so the UI thread never
    // dispatches a reading whose frame it has not mirrored yet. A meter repeats its display
    // several times a second: a frame whose display the UI already has is not handed over
    // (an accepted frame's start byte and checksum follow from its display bytes).
    if (!lastHandedOver || *lastHandedOver != frame) {
        lastHandedOver = frame;
        UiEvent event;
        event.frame = frame;
        Post(event);
    }
    if (q->history_.StoreReading(decoded)) {
        storedCount.fetch_add(1);
        Notify(); // the sampling thread waits for a newly stored reading
    }
    // The pause after a frame is sat out inside the next read, together with the wait for
    // the rest of the next frame.
    port->HoldOff(kFramePause);
}

void Acquisition::Impl::SamplerBody() {
    ::pthread_setname_np(::pthread_self(), "zelvox-sampler");
    const milliseconds period = SamplingPeriod(samplingRate);
    ReadingHistory& history = q->history_;
    const auto pending = [&] { return history.readingPending.load() == 1; };
    const auto paused = [&] { return q->paused.load() != 0; };
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

void Acquisition::Impl::Post(const UiEvent& event) {
    bool wakeUi = false;
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        wakeUi = queue.empty();
        if (queue.size() >= kMaxQueued)
            queue.pop_front(); // the mirror compares against what it showed last: nothing breaks
        queue.push_back(event);
    }
    if (wakeUi) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(uiWakeFd, &one, sizeof one);
    }
}

// UI thread. One event at a time, so a slot that runs a nested event loop cannot reorder them.
void Acquisition::Impl::Deliver() {
    for (;;) {
        UiEvent event;
        {
            std::lock_guard<std::mutex> lock(queueMutex);
            if (queue.empty())
                return;
            event = queue.front();
            queue.pop_front();
        }
        switch (event.kind) {
        case UiEvent::kDispatch:
            emit q->dispatchRequested();
            break;
        case UiEvent::kFrame:
            emit q->frameAccepted(event.frame);
            break;
        case UiEvent::kLink:
            emit q->linkChanged(event.link, event.error);
            break;
        }
    }
}

Acquisition::Acquisition(ReadingHistory& history, QObject* parent) : Acquisition(history, {}, parent) {}

Acquisition::Acquisition(ReadingHistory& history, WorkerStarter startWorker, QObject* parent)
    : QObject(parent), history_(history), impl_(std::make_unique<Impl>(this)) {
    impl_->startWorker = std::move(startWorker);
    qRegisterMetaType<zelvox::Frame>("zelvox::Frame");
    qRegisterMetaType<zelvox::LinkEvent>("zelvox::LinkEvent");
}

Acquisition::~Acquisition() {
    StopAcquisition();
}

Acquisition::StartResult Acquisition::StartAcquisition(const QString& portName, int samplingRate) {
    StartResult result;
    if (impl_->port->IsOpen()) {
        result.status = StartStatus::PortAlreadyOpen;
        return result;
    }
    PortError error;
    if (!impl_->port->Open(portName, &error)) {
        result.status = StartStatus::OpenPortFailed;
        result.reason = error.reason;
        result.errorCode = error.code;
        return result;
    }
    impl_->portName = portName;
    impl_->framer.Reset();
    impl_->lastHandedOver.reset();
    impl_->heardAt = Clock::now();
    impl_->silent = false;
    history_.readingPending.store(0);
    impl_->samplingRate = std::clamp(samplingRate, kMinSamplingRate, kMaxSamplingRate);
    {
        std::lock_guard<std::mutex> lock(impl_->wakeMutex);
        impl_->stopping = false;
    }
    impl_->run.store(1);
    try {
        impl_->reader = impl_->StartWorker(1, &Impl::ReaderBody);
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

void Acquisition::StopAcquisition() {
    impl_->run.store(0);
    impl_->RequestStop();
    // Every wait of both workers ends on the stop request, so these joins are short.
    if (impl_->reader.joinable())
        impl_->reader.join();
    if (impl_->sampler.joinable())
        impl_->sampler.join();
    impl_->port->Close();
}

bool Acquisition::IsRunning() const {
    return impl_->run.load() != 0;
}

bool Acquisition::PortOpen() const {
    return impl_->port->IsOpen();
}

Reading Acquisition::CurrentReading() const {
    std::lock_guard<std::mutex> lock(impl_->readingMutex);
    return impl_->reading;
}

} // namespace zelvox
