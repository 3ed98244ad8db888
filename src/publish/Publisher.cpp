#include "publish/Publisher.h"

#include "decode/Labels.h"
#include "publish/Discovery.h"
#include "publish/MqttLink.h"
#include "record/JournalFolder.h"
#include "record/RowCodec.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mosquitto.h>
#include <mutex>
#include <pthread.h>
#include <set>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace zelvox {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = 64 * 1024;

// Memory held for rows the journal could not take is given back in steps of this size.
constexpr std::size_t kHeldTrim = 1 << 20;

} // namespace

std::string PublishedRunId(const std::string& clientId, const std::string& journalPath) {
    return clientId + "/" + RunIdOf(journalPath);
}

struct Publisher::Impl {
    // One journal on its way to the broker, or rows held in memory while the journal is off
    // (path empty, no sidecar). Outbox thread only.
    struct File {
        std::string path, run;
        int fd = -1, sidecar = -1;
        bool memory = false;
        std::string bytes;      // memory: the rows from offset base on, as a journal holds them
        std::uint64_t base = 0; // memory: the offset of bytes[0]
        OutboxMark mark;
        std::uint64_t readOffset = 0; // the next row to send
        std::uint64_t scanned = 0;    // just after the last complete line seen
        std::uint64_t searched = 0;   // bytes looked through for line ends
        std::uint64_t lines = 0;      // complete lines seen, the header included
        bool dirty = false;           // mark changed since the last sync
        ~File() {
            if (fd >= 0)
                ::close(fd);
            if (sidecar >= 0)
                ::close(sidecar);
        }
        std::uint64_t Rows() const { return lines > 0 ? lines - 1 : 0; }
        ssize_t Read(char* to, std::size_t size, std::uint64_t offset) const {
            if (!memory)
                return ::pread(fd, to, size, static_cast<off_t>(offset));
            if (offset < base || offset - base >= bytes.size())
                return 0;
            const std::size_t n = std::min<std::size_t>(size, bytes.size() - (offset - base));
            std::memcpy(to, bytes.data() + (offset - base), n);
            return static_cast<ssize_t>(n);
        }
    };
    // What the caller handed over, in order: a journal with new rows, or rows held in memory.
    struct Handed {
        std::string path;  // empty: held rows
        std::string bytes; // held rows: their journal lines
        std::string run;   // held rows: their run when no journal came before them
    };
    struct InFlight {
        int mid;
        File* file;
        std::uint64_t endOffset;
        bool acked;
    };

    explicit Impl(PublisherOptions o) : options(std::move(o)) {}

    PublisherOptions options;
    std::function<void(const PublisherStatus&)> onStatus;
    std::thread outboxThread;
    bool started = false, stopped = false;

    // Shared between the caller, the link thread and the outbox thread.
    mutable std::mutex mutex;
    std::condition_variable outboxWake;
    std::vector<Handed> appended;  // in the order the rows were appended
    std::uint64_t held = 0;        // rows held in memory that the broker has not acknowledged
    std::uint64_t heldDropped = 0; // rows lost because the memory queue was full
    std::string journalOff;        // why the journal is off; empty while it is on
    LinkState link;
    Clock::time_point stopDeadline{};
    PublisherStatus status;
    MqttLink mqtt{options, mutex, outboxWake, link};

    // Outbox thread only.
    std::deque<std::unique_ptr<File>> files;
    std::deque<InFlight> inflight;
    std::uint64_t frontSeq = 0; // sequence number of inflight.front()
    // Rows before this sequence number were in flight when the connection was last made: the
    // library sends them again after the connect callback, and nothing new goes out before
    // they are acknowledged, so a run reaches the broker in index order.
    std::uint64_t fenceSeq = 0;
    int seenConnections = 0;
    Clock::time_point frontSince{}; // since when inflight.front() waits for its acknowledgement
    std::unordered_map<int, std::uint64_t> seqOfMid;
    std::set<int> functionsSeen;
    int discoveryConnection = 0;
    std::uint64_t acknowledged = 0;
    Clock::time_point nextSync{}, nextCounters{};
    std::string message;
    std::string notice; // the latest thing said once about a journal
    JournalRow row;
    std::vector<char> buffer = std::vector<char>(kReadChunk);
    std::string lastRun;     // the run of the newest journal adopted
    bool heldOpen = false;   // held rows go on in files.back()
    std::string journalSaid; // the journal state last published (retained)
    int journalSaidConnection = 0;

    // Just after the line feed that ends the line running on at `from`, or 0 when there is none.
    std::uint64_t LineEndFrom(const File& file, std::uint64_t from) {
        for (;;) {
            const ssize_t n = file.Read(buffer.data(), buffer.size(), from);
            if (n <= 0)
                return 0;
            const void* nl = std::memchr(buffer.data(), '\n', static_cast<std::size_t>(n));
            if (nl)
                return from + static_cast<std::uint64_t>(static_cast<const char*>(nl) - buffer.data()) + 1;
            from += static_cast<std::uint64_t>(n);
        }
    }

    // Rows held in memory: they go on the last memory source, or start one after the journals.
    void AdoptHeld(Handed& h) {
        if (!heldOpen || files.empty() || !files.back()->memory) {
            if (!files.empty())
                Scan(*files.back());
            auto file = std::make_unique<File>();
            file->memory = true;
            // The rows continue the run of the journal that was turned off.
            file->run = lastRun.empty() ? h.run : lastRun;
            file->mark = OutboxMark{options.target.Name(), 0, 0};
            file->bytes = CsvHeader();
            files.push_back(std::move(file));
            heldOpen = true;
        }
        files.back()->bytes += h.bytes;
        Scan(*files.back());
    }

    // ---- the outbox thread ----

    // Opens a journal for sending and its sidecar (made when there is none). atStart: a journal
    // found in the folder at start-up, not one this run is writing.
    void Adopt(const std::string& path, bool atStart = false) {
        for (const auto& f : files)
            if (f->path == path)
                return;
        if (!files.empty())
            Scan(*files.back()); // the rows appended to the previous run before it ended
        auto file = std::make_unique<File>();
        file->path = path;
        file->run = PublishedRunId(options.clientId, path);
        lastRun = file->run;
        file->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const std::string run = RunIdOf(path);
        if (file->fd < 0) {
            // Tried again with the journal's next row, or at the next start.
            Say("cannot open the journal " + run + " to send it: " + std::strerror(errno));
            return;
        }
        const std::string target = options.target.Name();
        const std::string recorded = RecordedJournalTarget(path);
        if (recorded.empty())
            RecordJournalTarget(file->fd, target); // its rows are for this broker from now on
        const SidecarState sidecar = ReadSidecar(path, target, file->mark);
        std::string distrust;
        switch (sidecar) {
        case SidecarState::Fits:
            break;
        case SidecarState::Missing:
            // A new journal has none yet; one made for this broker in an earlier run lost it.
            if (atStart && recorded == target)
                distrust = "its sidecar is missing";
            break;
        case SidecarState::Unreadable:
            distrust = "its sidecar cannot be read";
            break;
        case SidecarState::OtherBroker:
            distrust = "its sidecar names " + file->mark.target;
            break;
        case SidecarState::TooLarge:
            distrust = "its sidecar counts more than the journal holds";
            break;
        }
        const bool known = sidecar == SidecarState::Fits;
        // Repeats are dropped by (run, index); a lost row is not found again.
        if (!distrust.empty())
            Say("journal " + run + ": " + distrust + "; sending it again from the start");
        if (!known)
            file->mark = OutboxMark{target, 0, 0};
        const std::string sidecarPath = OutboxSidecarPath(path);
        file->sidecar = ::open(sidecarPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (file->sidecar < 0)
            Say("cannot keep the sidecar of journal " + run + " (" + std::strerror(errno) +
                "): its rows go again after a restart");
        file->readOffset = file->mark.ackedOffset;
        if (file->readOffset > 0) {
            // Count what is already acknowledged as seen; only what follows is scanned.
            file->scanned = file->searched = file->readOffset;
            file->lines = file->mark.ackedRows + 1;
        }
        if (!known) {
            WriteMark(*file);
            ::fdatasync(file->sidecar);
            // The new name must survive a power cut, or the journal would not be resent.
            const std::string folder = path.substr(0, path.rfind('/') + 1);
            const int dirFd =
                ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dirFd >= 0) {
                ::fsync(dirFd);
                ::close(dirFd);
            }
        }
        Scan(*file);
        files.push_back(std::move(file));
    }

    // Says text once, in the status's notice, at once: several journals may each have
    // something to say in one round.
    void Say(std::string text) {
        if (text == notice)
            return;
        notice = std::move(text);
        BrokerState state;
        std::string detail;
        {
            std::lock_guard lock(mutex);
            state = status.state;
            detail = status.detail;
        }
        Report(state, detail, true);
    }

    // Counts the complete lines appended since the last look, however long they are.
    void Scan(File& file) {
        for (;;) {
            const ssize_t n = file.Read(buffer.data(), buffer.size(), file.searched);
            if (n <= 0)
                return;
            const char* begin = buffer.data();
            for (const char* p = begin; (p = static_cast<const char*>(std::memchr(p, '\n', begin + n - p)));
                 ++p) {
                ++file.lines;
                file.scanned = file.searched + static_cast<std::uint64_t>(p - begin + 1);
            }
            file.searched += static_cast<std::uint64_t>(n);
        }
    }

    void WriteMark(File& file) {
        if (file.sidecar < 0)
            return;
        const std::string text = FormatOutboxMark(file.mark);
        [[maybe_unused]] const ssize_t n = ::pwrite(file.sidecar, text.data(), text.size(), 0);
    }

    void SyncMarks(bool force) {
        const Clock::time_point now = Clock::now();
        if (!force && now < nextSync)
            return;
        nextSync = now + std::chrono::seconds(1);
        // The marks are written in place and synced once a round, not per acknowledgement.
        for (const auto& f : files)
            if (f->dirty) {
                f->dirty = false;
                WriteMark(*f);
                ::fdatasync(f->sidecar);
            }
    }

    std::uint64_t Backlog() const {
        std::uint64_t n = 0;
        for (const auto& f : files)
            n += f->Rows() - std::min(f->Rows(), f->mark.ackedRows);
        return n;
    }

    void Track(int mid, File* file, std::uint64_t endOffset, bool acked) {
        if (inflight.empty())
            frontSince = Clock::now();
        if (!acked)
            seqOfMid[mid] = frontSeq + inflight.size();
        inflight.push_back({mid, file, endOffset, acked});
    }

    // Sends rows until the window is full, oldest journal first, each in index order.
    // False when the library refused a message (the connection is going down).
    bool FillWindow() {
        if (frontSeq < fenceSeq)
            return true; // what the last connection left unacknowledged is being sent again
        const std::size_t window = static_cast<std::size_t>(std::max(1, options.window));
        const std::string topic = options.target.ReadingTopic();
        for (const auto& f : files) {
            while (inflight.size() < window && f->readOffset < f->scanned) {
                const std::size_t want = static_cast<std::size_t>(
                    std::min<std::uint64_t>(buffer.size(), f->scanned - f->readOffset));
                const ssize_t n = f->Read(buffer.data(), want, f->readOffset);
                if (n <= 0)
                    return true;
                const char* begin = buffer.data();
                const char* end = begin + n;
                const char* p = begin;
                while (inflight.size() < window) {
                    const char* nl =
                        static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
                    if (!nl)
                        break;
                    std::string_view line(p, static_cast<std::size_t>(nl - p));
                    if (line.ends_with('\r'))
                        line.remove_suffix(1);
                    const std::uint64_t lineEnd = f->readOffset + static_cast<std::uint64_t>(nl + 1 - begin);
                    if (f->readOffset + static_cast<std::uint64_t>(p - begin) == 0) {
                        // The header: nothing to send, and nothing before it to wait for.
                        f->mark.ackedOffset = lineEnd;
                        f->dirty = true;
                    } else if (ReadJournalLine(line, row) == LineKind::Row) {
                        BrokerMessage(row, f->run, message);
                        int mid = 0;
                        int rc = MOSQ_ERR_NO_CONN;
                        {
                            // Checked and published under the lock: no reconnect can come between,
                            // so a new row never goes out before the library's resends.
                            std::lock_guard lock(mutex);
                            if (link.Ready() && link.connections == seenConnections)
                                rc = mqtt.Publish(topic, message, false, &mid);
                        }
                        if (rc != MOSQ_ERR_SUCCESS) {
                            f->readOffset += static_cast<std::uint64_t>(p - begin);
                            return false;
                        }
                        Track(mid, f.get(), lineEnd, false);
                        const int code = row.reading.functionCode;
                        if (options.discovery && functionsSeen.insert(code).second)
                            PublishDiscovery(code);
                    } else {
                        Track(-1, f.get(), lineEnd, true); // a damaged line: passed over, in its place
                    }
                    p = nl + 1;
                }
                if (p == begin) {
                    // A line longer than a whole chunk is no row: passed over like any damage.
                    const std::uint64_t lineEnd = LineEndFrom(*f, f->readOffset);
                    if (lineEnd == 0)
                        return true;
                    Track(-1, f.get(), lineEnd, true);
                    f->readOffset = lineEnd;
                    continue;
                }
                f->readOffset += static_cast<std::uint64_t>(p - begin);
            }
            if (f->readOffset < f->scanned)
                break; // the window is full; later journals wait their turn
        }
        return true;
    }

    void ApplyAcks(const std::vector<int>& mids) {
        std::uint64_t heldAcked = 0;
        for (const int mid : mids) {
            const auto it = seqOfMid.find(mid);
            if (it == seqOfMid.end())
                continue; // a status or discovery message
            inflight[static_cast<std::size_t>(it->second - frontSeq)].acked = true;
            seqOfMid.erase(it);
        }
        while (!inflight.empty() && inflight.front().acked) {
            File& f = *inflight.front().file;
            f.mark.ackedOffset = inflight.front().endOffset;
            ++f.mark.ackedRows;
            f.dirty = true;
            if (inflight.front().mid >= 0)
                ++acknowledged;
            if (f.memory)
                ++heldAcked;
            inflight.pop_front();
            ++frontSeq;
            frontSince = Clock::now();
        }
        // Journals before the current one are done once read and acknowledged to their end.
        while (files.size() > 1 && files.front()->readOffset >= files.front()->scanned &&
               files.front()->mark.ackedOffset >= files.front()->readOffset &&
               (inflight.empty() || inflight.front().file != files.front().get())) {
            Scan(*files.front());
            if (files.front()->readOffset < files.front()->scanned)
                break;
            if (files.front()->dirty) {
                WriteMark(*files.front());
                ::fdatasync(files.front()->sidecar);
            }
            files.pop_front();
        }
        for (const auto& f : files)
            if (f->memory && f->mark.ackedOffset - f->base >= kHeldTrim) {
                f->bytes.erase(0, f->mark.ackedOffset - f->base);
                f->base = f->mark.ackedOffset;
            }
        if (heldAcked > 0) {
            std::lock_guard lock(mutex);
            held -= std::min(held, heldAcked);
        }
    }

    // The rows in flight get no acknowledgement: the connection is made again, and the library
    // sends them again after the connect callback.
    void DropConnection(const std::string& why) {
        frontSince = Clock::now();
        mqtt.Drop(why);
    }

    void PublishDiscovery(int code) {
        if (code < 0)
            return;
        const std::string topic = DiscoveryTopic(options.clientId, code);
        const std::string config = DiscoveryConfig(options.target, options.clientId, code);
        mqtt.Publish(topic, config, true);
    }

    // justSent: rows went out in this round and their acknowledgements are on the way; the
    // counters are then not reported, or a live run would always show its newest row waiting.
    void Report(BrokerState state, const std::string& detail, bool force, bool justSent = false) {
        PublisherStatus s{state, detail, Backlog(), acknowledged, notice, {}, 0, 0};
        bool changed;
        {
            std::lock_guard lock(mutex);
            s.journalOff = journalOff;
            s.inMemory = held;
            s.memoryDropped = heldDropped;
            changed = s.state != status.state || s.detail != status.detail || s.notice != status.notice ||
                      s.journalOff != status.journalOff || s.memoryDropped != status.memoryDropped;
            const bool counters = s.backlog != status.backlog || s.acknowledged != status.acknowledged ||
                                  s.inMemory != status.inMemory;
            if (!changed && !force && (!counters || justSent || Clock::now() < nextCounters))
                return;
            status = s;
        }
        nextCounters = Clock::now() + std::chrono::seconds(1);
        if (onStatus)
            onStatus(s);
    }

    void OutboxBody() {
        for (const std::string& path :
             JournalsToSend(options.journalDir, options.target.Name(), options.adoptUnmarked))
            Adopt(path, true);
        Report(BrokerState::Connecting, {}, true);
        std::unique_lock lock(mutex);
        for (;;) {
            std::vector<Handed> paths = std::move(appended);
            appended.clear();
            std::vector<int> acked = std::move(link.acks);
            link.acks.clear();
            const bool online = link.Ready();
            const int connectionsNow = link.connections;
            const bool isRefused = link.refused;
            const std::string detail = link.detail;
            const bool discoveryNow =
                options.discovery && online && (link.discoveryDue || link.connections != discoveryConnection);
            link.discoveryDue = false;
            if (discoveryNow)
                discoveryConnection = link.connections;
            const bool isStopping = link.stopping;
            const std::string journalOffNow = journalOff;
            const std::string journalNow = journalOff.empty() ? "on" : "off (" + journalOff + ")";
            const Clock::time_point deadline = stopDeadline;
            lock.unlock();

            std::string last;
            for (Handed& h : paths) {
                if (h.path.empty()) {
                    AdoptHeld(h);
                    last.clear();
                    continue;
                }
                if (h.path == last)
                    continue;
                last = h.path;
                heldOpen = false;
                Adopt(h.path);
                if (!files.empty() && files.back()->path == h.path)
                    Scan(*files.back());
            }
            ApplyAcks(acked);
            if (discoveryNow)
                for (const int code : functionsSeen)
                    PublishDiscovery(code);
            if (online && seenConnections != connectionsNow) {
                seenConnections = connectionsNow;
                fenceSeq = frontSeq + inflight.size();
                frontSince = Clock::now();
            }
            if (online && (journalNow != journalSaid || journalSaidConnection != connectionsNow)) {
                // Retained beside the status: whether the readings are kept on disk.
                if (mqtt.Publish(options.target.JournalTopic(), journalNow, true) == MOSQ_ERR_SUCCESS) {
                    journalSaid = journalNow;
                    journalSaidConnection = connectionsNow;
                }
            }
            if (online && !isStopping)
                FillWindow();
            if (online && !inflight.empty() &&
                Clock::now() - frontSince > std::chrono::milliseconds(options.ackTimeoutMs))
                DropConnection(NoAcknowledgementText(options.ackTimeoutMs / 1000));
            SyncMarks(false);
            const BrokerState state = online                                  ? BrokerState::Online
                                      : isRefused                             ? BrokerState::Refused
                                      : connectionsNow == 0 && detail.empty() ? BrokerState::Connecting
                                                                              : BrokerState::Waiting;
            Report(state, online ? std::string() : detail, false, online && !paths.empty() && acked.empty());

            if (isStopping && (inflight.empty() || !online || Clock::now() >= deadline))
                break;

            lock.lock();
            link.acksUrgent = inflight.size() * 2 >= static_cast<std::size_t>(std::max(1, options.window)) ||
                              frontSeq < fenceSeq;
            const auto ready = [&] {
                return !appended.empty() || (!link.acks.empty() && (link.acksUrgent || link.stopping)) ||
                       link.Ready() != online || link.refused != isRefused || link.detail != detail ||
                       link.stopping != isStopping || link.discoveryDue || journalOff != journalOffNow;
            };
            if (isStopping)
                outboxWake.wait_until(lock, deadline, ready);
            else if (!inflight.empty() || !link.acks.empty() ||
                     std::any_of(files.begin(), files.end(), [](const auto& f) { return f->dirty; }) ||
                     Backlog() != status.backlog)
                outboxWake.wait_for(lock, std::chrono::seconds(1), ready);
            else
                outboxWake.wait(lock, ready);
        }

        SyncMarks(true);
        lock.lock();
        const bool online = link.connected;
        lock.unlock();
        if (online) {
            // A clean end says so itself; the last will is for the others.
            const std::string topic = options.target.StatusTopic();
            int mid = 0;
            if (mqtt.Publish(topic, "offline", true, &mid) == MOSQ_ERR_SUCCESS) {
                lock.lock();
                outboxWake.wait_for(lock, std::chrono::milliseconds(500), [&] {
                    return !link.connected ||
                           std::find(link.acks.begin(), link.acks.end(), mid) != link.acks.end();
                });
                lock.unlock();
            }
        }
        mqtt.Disconnect();
        mqtt.Finish();
        Report(BrokerState::Stopped, {}, true);
    }
};

Publisher::Publisher(PublisherOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Publisher::~Publisher() {
    Stop();
}

void Publisher::OnStatus(std::function<void(const PublisherStatus&)> callback) {
    impl_->onStatus = std::move(callback);
}

bool Publisher::Start(std::string* error) {
    Impl& d = *impl_;
    if (d.started)
        return true;
    if (d.options.clientId.empty() || d.options.clientId.size() > 65535) {
        if (error)
            *error = "the MQTT client id must not be empty";
        return false;
    }
    if (!d.mqtt.Create(error))
        return false;
    d.started = true;
    // Named for top, perf and the benchmarks' per-thread figures.
    d.outboxThread = std::thread([&d] {
        ::pthread_setname_np(::pthread_self(), "zelvox-outbox");
        d.OutboxBody();
    });
    d.mqtt.Start();
    return true;
}

void Publisher::Appended(const std::string& journalPath) {
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    // A path already waiting at the end gets its new rows with the scan that is coming anyway.
    if (d.appended.empty() || d.appended.back().path != journalPath) {
        d.appended.push_back({journalPath, {}, {}});
        d.outboxWake.notify_one();
    }
}

bool Publisher::Held(const DispatchedReading& dispatched) {
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    if (d.held >= kHeldRows) {
        ++d.heldDropped;
        return false;
    }
    ++d.held;
    if (d.appended.empty() || !d.appended.back().path.empty()) {
        Impl::Handed h;
        h.run = PublishedRunId(d.options.clientId, JournalFileName(dispatched.at, 1));
        d.appended.push_back(std::move(h));
        d.outboxWake.notify_one();
    }
    d.appended.back().bytes += CsvLine(dispatched);
    return true;
}

void Publisher::JournalState(const std::string& off) {
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    if (d.journalOff != off) {
        d.journalOff = off;
        d.outboxWake.notify_one();
    }
}

PublisherStatus Publisher::Status() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->status;
}

void Publisher::RequestStop(std::chrono::milliseconds grace) {
    Impl& d = *impl_;
    if (!d.started)
        return;
    std::lock_guard lock(d.mutex);
    if (d.link.stopping)
        return;
    d.link.stopping = true;
    d.stopDeadline = Clock::now() + grace;
    d.outboxWake.notify_one();
}

void Publisher::Stop(std::chrono::milliseconds grace) {
    Impl& d = *impl_;
    if (!d.started || d.stopped)
        return;
    RequestStop(grace);
    d.stopped = true;
    d.outboxThread.join();
    d.mqtt.Finish();
}

} // namespace zelvox
