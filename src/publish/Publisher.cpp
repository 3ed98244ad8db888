#include "publish/Publisher.h"

#include "decode/Labels.h"
#include "publish/Discovery.h"
#include "publish/MqttLink.h"
#include "publish/Outbox.h"
#include "record/JournalFolder.h"
#include "record/RowCodec.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mosquitto.h>
#include <mutex>
#include <pthread.h>
#include <set>
#include <thread>
#include <vector>

namespace zelvox {

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

std::string PublishedRunId(const std::string& clientId, const std::string& journalPath) {
    return clientId + "/" + RunIdOf(journalPath);
}

struct Publisher::Impl {
    // What the caller handed over, in order: a journal with new rows, or rows held in memory.
    struct Handed {
        std::string path;  // empty: held rows
        std::string bytes; // held rows: their journal lines
        std::string run;   // held rows: their run when no journal came before them
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
    // Retained messages by topic, and the connection each was last published on (0: not yet).
    std::map<std::string, std::pair<std::string, int>> retained;
    bool retainedDue = false;
    LinkState link;
    Clock::time_point stopDeadline{};
    PublisherStatus status;
    MqttLink mqtt{options, mutex, outboxWake, link};

    // Outbox thread only.
    Outbox outbox{options.target.Name(), options.clientId, [this](const std::string& text) { Say(text); }};
    int seenConnections = 0;
    std::set<int> functionsSeen;
    int discoveryConnection = 0;
    Clock::time_point nextCounters{};
    std::string readingTopic = options.target.ReadingTopic();
    std::string message;
    std::string notice;      // the latest thing said once about a journal
    std::string journalSaid; // the journal state last published (retained)
    int journalSaidConnection = 0;

    // Says text once, in the status's notice, at once: several journals may each have
    // something to say in one round.
    void Say(const std::string& text) {
        if (text == notice)
            return;
        notice = text;
        BrokerState state = BrokerState::Connecting;
        std::string detail;
        {
            std::lock_guard lock(mutex);
            state = status.state;
            detail = status.detail;
        }
        Report(state, detail, true);
    }

    // One row to the broker. Checked and published under the lock: no reconnect can come
    // between, so a new row never goes out before the library's resends.
    bool SendRow(const JournalRow& row, const std::string& run, int* mid) {
        BrokerMessage(row, run, message);
        int rc = MOSQ_ERR_NO_CONN;
        {
            std::lock_guard lock(mutex);
            if (link.Ready() && link.connections == seenConnections)
                rc = mqtt.Publish(readingTopic, message, false, mid);
        }
        if (rc != MOSQ_ERR_SUCCESS)
            return false;
        const int code = row.reading.functionCode;
        if (options.discovery && functionsSeen.insert(code).second)
            PublishDiscovery(code);
        return true;
    }

    // The rows in flight get no acknowledgement: the connection is made again, and the library
    // sends them again after the connect callback.
    void DropConnection(const std::string& why) {
        outbox.RestartAckClock();
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
    void Report(BrokerState state, const std::string& detail, bool force, bool justSent = false,
                int retrySeconds = 0) {
        // Online, the rows handed to the broker and not yet acknowledged are on their way, not
        // waiting: a live run would otherwise show its newest row waiting for as long as it runs
        // (an acknowledgement that does not come drops the connection, and they wait again).
        const std::uint64_t inFlight = state == BrokerState::Online ? outbox.InFlight() : 0;
        PublisherStatus s{state,
                          detail,
                          outbox.Backlog() - std::min<std::uint64_t>(outbox.Backlog(), inFlight),
                          outbox.Acknowledged(),
                          notice,
                          {},
                          0,
                          0,
                          retrySeconds};
        bool changed;
        {
            std::lock_guard lock(mutex);
            s.journalOff = journalOff;
            s.inMemory = held;
            s.memoryDropped = heldDropped;
            changed = s.state != status.state || s.detail != status.detail || s.notice != status.notice ||
                      s.journalOff != status.journalOff || s.memoryDropped != status.memoryDropped ||
                      s.retrySeconds != status.retrySeconds;
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
            outbox.Adopt(path, true);
        Report(BrokerState::Connecting, {}, true);
        std::unique_lock lock(mutex);
        for (;;) {
            std::vector<Handed> paths = std::move(appended);
            appended.clear();
            std::vector<int> acked = std::move(link.acks);
            link.acks.clear();
            const bool online = link.Ready();
            // Connected, the library still queueing again what the last connection left: online
            // to the reader, with no stale reason.
            const bool connectedNow = link.connected;
            const int connectionsNow = link.connections;
            const bool isRefused = link.refused;
            const int retrySeconds = link.retrySeconds;
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
            std::vector<std::pair<std::string, std::string>> retainNow;
            if (online)
                for (auto& [topic, sent] : retained)
                    if (sent.second != connectionsNow) {
                        retainNow.emplace_back(topic, sent.first);
                        sent.second = connectionsNow; // a failed publish is retried on the next connection
                    }
            retainedDue = false;
            lock.unlock();

            std::string last;
            for (Handed& h : paths) {
                if (h.path.empty()) {
                    outbox.Hold(h.bytes, h.run);
                    last.clear();
                    continue;
                }
                if (h.path == last)
                    continue;
                last = h.path;
                outbox.Adopt(h.path);
            }
            if (const std::uint64_t heldAcked = outbox.Acknowledge(acked); heldAcked > 0) {
                std::lock_guard heldLock(mutex);
                held -= std::min(held, heldAcked);
            }
            if (discoveryNow)
                for (const int code : functionsSeen)
                    PublishDiscovery(code);
            if (online && seenConnections != connectionsNow) {
                seenConnections = connectionsNow;
                outbox.Reconnected();
            }
            if (online && (journalNow != journalSaid || journalSaidConnection != connectionsNow)) {
                // Retained beside the status: whether the readings are kept on disk.
                if (mqtt.Publish(options.target.JournalTopic(), journalNow, true) == MOSQ_ERR_SUCCESS) {
                    journalSaid = journalNow;
                    journalSaidConnection = connectionsNow;
                }
            }
            for (const auto& [topic, payload] : retainNow)
                mqtt.Publish(topic, payload, true);
            if (online && !isStopping)
                outbox.Fill(static_cast<std::size_t>(std::max(1, options.window)),
                            [this](const JournalRow& row, const std::string& run, int* mid) {
                                return SendRow(row, run, mid);
                            });
            if (online && outbox.AckOverdue(std::chrono::milliseconds(options.ackTimeoutMs)))
                DropConnection(NoAcknowledgementText(options.ackTimeoutMs / 1000));
            outbox.SyncMarks(false);
            const BrokerState state = online || connectedNow                  ? BrokerState::Online
                                      : isRefused                             ? BrokerState::Refused
                                      : connectionsNow == 0 && detail.empty() ? BrokerState::Connecting
                                                                              : BrokerState::Waiting;
            Report(state, online || connectedNow ? std::string() : detail, false,
                   online && !paths.empty() && acked.empty(), isRefused ? retrySeconds : 0);

            if (isStopping && (outbox.InFlight() == 0 || !online || Clock::now() >= deadline))
                break;

            lock.lock();
            link.acksUrgent =
                outbox.InFlight() * 2 >= static_cast<std::size_t>(std::max(1, options.window)) ||
                outbox.Resending();
            const auto ready = [&] {
                return !appended.empty() || (!link.acks.empty() && (link.acksUrgent || link.stopping)) ||
                       link.Ready() != online || link.connected != connectedNow ||
                       link.refused != isRefused || link.detail != detail ||
                       link.retrySeconds != retrySeconds || link.stopping != isStopping ||
                       link.discoveryDue || journalOff != journalOffNow || retainedDue;
            };
            if (isStopping)
                outboxWake.wait_until(lock, deadline, ready);
            else if (outbox.InFlight() > 0 || !link.acks.empty() || outbox.Dirty() ||
                     outbox.Backlog() != status.backlog)
                outboxWake.wait_for(lock, std::chrono::seconds(1), ready);
            else
                outboxWake.wait(lock, ready);
        }

        outbox.SyncMarks(true);
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

void Publisher::Retain(const std::string& topic, const std::string& payload) {
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    d.retained[topic] = {payload, 0};
    d.retainedDue = true;
    d.outboxWake.notify_one();
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
