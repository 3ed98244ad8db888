// Readings taken from a broker, for the Run View: subscribes to PREFIX/reading, PREFIX/status and
// PREFIX/alarm/+
// at QoS 1 (PREFIX may end in the wildcard '+': every meter of a lab) and hands each message,
// read by ReadBrokerMessage, to the callbacks on libmosquitto's own thread. The broker's URL,
// password and TLS files are the publisher's (MqttTarget). It reconnects by itself; repeats
// (QoS 1 sends again after a reconnect) are the caller's to drop, by run and index.
#pragma once

#include "publish/MqttTarget.h"
#include "record/RowCodec.h"

#include <functional>
#include <string>

struct mosquitto;
struct mosquitto_message;

namespace zelvox {

class BrokerReadings {
public:
    struct Callbacks {
        // meter: the topic prefix the message came under (PREFIX, or the lab's level for '+').
        std::function<void(const std::string& meter, const JournalRow& row, const std::string& run)> reading;
        std::function<void(const std::string& meter, const std::string& status)> status;
        // A rule's retained state on PREFIX/alarm/NAME, read by ReadAlarmMessage.
        std::function<void(const std::string& meter, const EventRow& event)> alarm;
        // The link: "connected", "connection lost: why", ...
        std::function<void(const std::string& text)> link;
    };

    // target.prefix may end in "+" (its last level): every meter under the level before it.
    BrokerReadings(MqttTarget target, std::string clientId, Callbacks callbacks);
    // Disconnects and joins libmosquitto's thread.
    ~BrokerReadings();

    // Starts connecting; false with *error when the client cannot be made.
    bool Start(std::string* error);
    // Messages on the reading topics that were not readings.
    long Damaged() const { return damaged_; }

private:
    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* m);

    MqttTarget target_;
    std::string clientId_;
    Callbacks callbacks_;
    mosquitto* mosq_ = nullptr;
    long damaged_ = 0;
};

} // namespace zelvox
