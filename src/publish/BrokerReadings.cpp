#include "publish/BrokerReadings.h"

#include <mosquitto.h>
#include <mutex>

namespace zelvox {

BrokerReadings::BrokerReadings(MqttTarget target, std::string clientId, Callbacks callbacks)
    : target_(std::move(target)), clientId_(std::move(clientId)), callbacks_(std::move(callbacks)) {}

BrokerReadings::~BrokerReadings() {
    if (!mosq_)
        return;
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, true);
    mosquitto_destroy(mosq_);
}

bool BrokerReadings::Start(std::string* error) {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
    // A viewer keeps no session: what it missed while away is in the journals.
    mosq_ = mosquitto_new(clientId_.empty() ? nullptr : clientId_.c_str(), true, this);
    if (!mosq_) {
        *error = "cannot make an MQTT client";
        return false;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    if (!target_.user.empty())
        mosquitto_username_pw_set(mosq_, target_.user.c_str(),
                                  target_.password.empty() ? nullptr : target_.password.c_str());
    if (target_.tls) {
        const int rc =
            mosquitto_tls_set(mosq_, target_.caFile.empty() ? nullptr : target_.caFile.c_str(),
                              target_.caFile.empty() ? "/etc/ssl/certs" : nullptr,
                              target_.certFile.empty() ? nullptr : target_.certFile.c_str(),
                              target_.keyFile.empty() ? nullptr : target_.keyFile.c_str(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *error = std::string("cannot use the TLS certificates: ") + mosquitto_strerror(rc);
            return false;
        }
    }
    mosquitto_connect_callback_set(mosq_, &OnConnect);
    mosquitto_disconnect_callback_set(mosq_, &OnDisconnect);
    mosquitto_message_callback_set(mosq_, &OnMessage);
    mosquitto_reconnect_delay_set(mosq_, 1, 30, true);
    // connect_async: a broker that is not there yet is tried again by the loop.
    const int rc = mosquitto_connect_async(mosq_, target_.host.c_str(), target_.port, 30);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_ERRNO) {
        *error = std::string("cannot connect to ") + target_.Name() + ": " + mosquitto_strerror(rc);
        return false;
    }
    if (mosquitto_loop_start(mosq_) != MOSQ_ERR_SUCCESS) {
        *error = "cannot start the MQTT thread";
        return false;
    }
    return true;
}

void BrokerReadings::OnConnect(mosquitto* mosq, void* self, int rc) {
    auto* me = static_cast<BrokerReadings*>(self);
    if (rc != 0) {
        if (me->callbacks_.link)
            me->callbacks_.link(std::string("the broker refused the connection: ") +
                                mosquitto_connack_string(rc));
        return;
    }
    for (const std::string& topic :
         {me->target_.ReadingTopic(), me->target_.StatusTopic(), me->target_.AlarmTopic("+")})
        mosquitto_subscribe(mosq, nullptr, topic.c_str(), 1);
    if (me->callbacks_.link)
        me->callbacks_.link("connected to " + me->target_.Name());
}

void BrokerReadings::OnDisconnect(mosquitto*, void* self, int rc) {
    auto* me = static_cast<BrokerReadings*>(self);
    if (rc != 0 && me->callbacks_.link)
        me->callbacks_.link("connection to " + me->target_.Name() + " lost; trying again");
}

void BrokerReadings::OnMessage(mosquitto*, void* self, const mosquitto_message* m) {
    auto* me = static_cast<BrokerReadings*>(self);
    const std::string_view topic(m->topic);
    const std::size_t slash = topic.rfind('/');
    if (slash == std::string_view::npos)
        return;
    std::string meter(topic.substr(0, slash));
    const std::string_view kind = topic.substr(slash + 1);
    const std::string_view payload(static_cast<const char*>(m->payload),
                                   static_cast<std::size_t>(m->payloadlen));
    if (meter.ends_with("/alarm")) {
        meter.resize(meter.size() - 6);
        EventRow event;
        // An empty retained message removes a rule's state: nothing happened.
        if (payload.empty())
            return;
        if (!ReadAlarmMessage(payload, kind, event)) {
            ++me->damaged_;
            return;
        }
        if (me->callbacks_.alarm)
            me->callbacks_.alarm(meter, event);
        return;
    }
    if (kind == "status") {
        if (me->callbacks_.status)
            me->callbacks_.status(meter, std::string(payload));
        return;
    }
    JournalRow row;
    std::string run;
    if (kind != "reading" || !ReadBrokerMessage(payload, row, run)) {
        ++me->damaged_;
        return;
    }
    if (me->callbacks_.reading)
        me->callbacks_.reading(meter, row, run);
}

} // namespace zelvox
