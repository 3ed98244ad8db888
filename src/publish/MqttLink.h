// The publisher's link to the broker: one libmosquitto client, MQTT 5 where the broker speaks it
// (3.1.1 otherwise), and the thread that runs its network loop: connect, keep-alive, reconnect
// with back-off. It says what went wrong in its own words (a server that never answers, one
// that speaks another protocol, a certificate for another host, the broker's own reason code
// for ending a connection) and tells the outbox when a connection is ready for new rows: only
// after the library has queued again what the last connection left unacknowledged, so that
// rows reach the broker in the order they were sent. A refusal (a password rotated on the
// broker) never ends the tries: they go on with pauses growing to refusedRetryMs.
#pragma once

#include "publish/Publisher.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;

namespace zelvox {

// What the link tells the outbox, guarded by the mutex the two share.
struct LinkState {
    bool connected = false;
    int connections = 0; // successful connections so far
    // The connection whose CONNACK the library has handled in full: the rows the previous one
    // left unacknowledged are queued again on it, and new rows may follow them.
    int readyConnection = 0;
    bool refused = false;      // the last try was refused (credentials, id): tried again later
    int retrySeconds = 0;      // while refused: the pause before the next try
    std::string detail;        // why the broker is not reached
    std::string dropReason;    // why the outbox dropped the connection (it is made again)
    std::vector<int> acks;     // mids the broker acknowledged
    bool acksUrgent = false;   // wake the outbox for each batch of acknowledgements
    bool discoveryDue = false; // Home Assistant came online
    bool stopping = false;     // the outbox is ending: acknowledgements are wanted at once
    bool quit = false;
    bool Ready() const { return connected && readyConnection == connections; }
};

class MqttLink {
public:
    // The state is guarded by mutex; wake is notified whenever it changes.
    MqttLink(const PublisherOptions& options, std::mutex& mutex, std::condition_variable& wake,
             LinkState& state);
    ~MqttLink();
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // Makes the client (id, credentials, will, TLS). False with *error when it cannot work.
    bool Create(std::string* error);
    void Start();
    // Publishes at QoS 1; a libmosquitto result. Rows are published with the mutex held and
    // state.Ready() checked, so that no reconnect comes between the check and the publish.
    int Publish(const std::string& topic, std::string_view payload, bool retain, int* mid = nullptr);
    // Ends the connection; it is made again, and `why` is what the state says meanwhile.
    void Drop(const std::string& why);
    void Disconnect();
    // Ends the link thread (after Disconnect) and waits for it.
    void Finish();

private:
    static void OnConnect(mosquitto*, void* self, int rc, int flags, const mqtt5__property* props);
    static void OnDisconnect(mosquitto*, void* self, int rc, const mqtt5__property* props);
    static void OnPublish(mosquitto*, void* self, int mid);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* m);
    void Connected(int rc);
    bool MarkReady();
    // After a failed TLS handshake: what the certificate chain the broker presents says.
    std::string TlsVerdict() const;
    std::string Server() const;
    void Body();

    const PublisherOptions& options_;
    std::mutex& mutex_;
    std::condition_variable& wake_;
    LinkState& state_;
    mosquitto* mosq_ = nullptr;
    std::thread thread_;
    std::condition_variable pause_; // the pause between tries, cut short by Finish
    std::atomic<bool> quitLoop_{false};

    // Link thread only.
    std::chrono::steady_clock::time_point connectedAt_{};
    int retryMs_ = 0;
    int shortLived_ = 0; // connections in a row the broker closed right after they were made
    int protocol_ = 5;   // the MQTT version asked for: 5 until the broker shows it speaks only 3.1.1
    bool spokeV5_ = false;
    bool fallBack_ = false;   // the broker answered MQTT 5 as a 3.1.1 broker would
    int endReason_ = 0;       // the broker's reason code for ending the last connection (MQTT 5)
    int refusedRetryMs_ = 0;  // the pause after a refusal, doubled up to refusedRetryMs
    bool refusedNow_ = false; // the broker refused this try (set by Connected)
};

} // namespace zelvox
