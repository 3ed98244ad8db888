// The MQTT publisher: sends every row of the readings journal to a broker at QoS 1, from the
// journal itself, so that neither a broker outage nor a crash of this program loses a reading.
//
// Two threads of its own: the link thread (publish/MqttLink.h) runs libmosquitto's network loop
// (connect, keep-alive, reconnect with back-off), the outbox thread reads journal rows back
// (which row goes next and what is in flight: publish/Outbox.h), publishes them in order with
// a bounded number in flight (after a reconnect, nothing new before what was unacknowledged has
// been sent again and acknowledged; a row unacknowledged for ackTimeoutMs makes the connection
// again), and records in each journal's sidecar (record/JournalFolder.h) how far the broker has
// acknowledged it. The caller only says that a row was appended; it never waits for the network
// or the disk.
//
// Topics: PREFIX/reading (one JSON object per row, with "run" and "index"), PREFIX/status
// (retained "online", and "offline" as the last will and at a clean stop), PREFIX/journal
// (retained "on", or "off (disk full)" while rows are held in memory only), and with discovery
// homeassistant/sensor/<client id>/f<function code>/config (retained, one per function seen), and
// whatever the caller asks to be retained (Retain: PREFIX/alarm/NAME and its binary sensor).
#pragma once

#include "publish/MqttTarget.h"
#include "publish/PublisherStatus.h"
#include "record/ReadingRecord.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zelvox {

struct PublisherOptions {
    MqttTarget target;
    std::string clientId;
    std::string journalDir;     // earlier journals with unsent rows are sent from here first
    bool discovery = false;     // Home Assistant discovery configs
    bool adoptUnmarked = false; // the folder is ours: journals without a sidecar are sent too
    int keepAliveSeconds = 30;
    int window = 256;       // messages in flight at most
    int firstRetryMs = 500; // the pause before the first reconnect, doubled up to maxRetryMs
    int maxRetryMs = 8000;
    int refusedRetryMs = 240000; // after a refusal the pauses double up to this
    int answerTimeoutMs = 10000; // a broker that has not answered a connection by then is left
    int ackTimeoutMs = 20000;    // a row unacknowledged for so long: the connection is made again
};

// The "run" of the messages of the journal at journalPath: the client id (one per meter and
// host) and the journal's name, "zelvox-bench3-ttyUSB0/2026-12-08T10-42-06", so that (run, index)
// names one reading across every meter publishing under lab/+/reading.
std::string PublishedRunId(const std::string& clientId, const std::string& journalPath);

class Publisher {
public:
    explicit Publisher(PublisherOptions options);
    ~Publisher(); // Stop()
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Called on the outbox thread when the state changes, and at most once a second when only
    // the counters do. Set it before Start.
    void OnStatus(std::function<void(const PublisherStatus&)> callback);

    // Starts both threads. False with *error when the options cannot work at all (the TLS
    // files, the client id); an unreachable broker is not an error: it is tried again.
    bool Start(std::string* error);

    // A row has been appended to the journal at journalPath (the current run's file; a new
    // path means a new run). Cheap and never blocking; call it from any thread.
    void Appended(const std::string& journalPath);

    // A row the journal could not take (it is off: a full disk): held in memory and sent in its
    // place, after the rows the journal already had, up to kHeldRows not yet acknowledged.
    // False when the queue is full and the row is lost (counted in the status).
    bool Held(const DispatchedReading& dispatched);
    // The journal turned off (off says why, "disk full"), or on again (empty). Said in the
    // status and, retained, on PREFIX/journal ("on", "off (disk full)").
    void JournalState(const std::string& off);

    // A retained message for topic (an alarm's state, its discovery config): the latest payload
    // of each topic is sent as soon as the broker is reached, and again on every new connection
    // (a broker that lost its store gets it back). Cheap and never blocking; any thread.
    void Retain(const std::string& topic, const std::string& payload);

    // Rows held in memory at most: a day's worth at one reading a second fits, and in the
    // worst case (about 150 bytes a row) it stays near 15 MB.
    static constexpr std::uint64_t kHeldRows = 100000;

    PublisherStatus Status() const;

    // Asks both threads to end as Stop does, without waiting for them: for a caller that must
    // not block (the window closing). Stop, or the destructor, joins them later.
    void RequestStop(std::chrono::milliseconds grace);

    // Stops sending, waits up to grace for the messages in flight, syncs the sidecars, says
    // "offline" and disconnects. Later calls do nothing.
    void Stop(std::chrono::milliseconds grace = std::chrono::seconds(2));

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace zelvox
