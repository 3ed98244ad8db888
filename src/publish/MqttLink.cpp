#include "publish/MqttLink.h"

#include "publish/PublisherStatus.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <pthread.h>

namespace zelvox {

namespace {

using Clock = std::chrono::steady_clock;

// A connection that ends within kTakeoverMs of being made, kTakeoverCount times in a row, has
// been taken over by another client with our id.
constexpr int kTakeoverMs = 3000;
constexpr int kTakeoverCount = 3;

// The library is set up once per process and never torn down (other publishers may live on).
void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

MqttLink::MqttLink(const PublisherOptions& options, std::mutex& mutex, std::condition_variable& wake,
                   LinkState& state)
    : options_(options), mutex_(mutex), wake_(wake), state_(state) {}

MqttLink::~MqttLink() {
    Finish();
    if (mosq_)
        mosquitto_destroy(mosq_);
}

bool MqttLink::Create(std::string* error) {
    InitLibrary();
    const auto fail = [&](const std::string& text) {
        if (error)
            *error = text;
        return false;
    };
    mosq_ = mosquitto_new(options_.clientId.c_str(), false, this);
    if (!mosq_)
        return fail(std::string("cannot make an MQTT client: ") + std::strerror(errno));
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_threaded_set(mosq_, true);
    // The journal holds the backlog: the library never holds more than the window.
    mosquitto_max_inflight_messages_set(mosq_, static_cast<unsigned>(options_.window + 64));
    const MqttTarget& t = options_.target;
    if (!t.user.empty() &&
        mosquitto_username_pw_set(mosq_, t.user.c_str(), t.password.empty() ? nullptr : t.password.c_str()) !=
            MOSQ_ERR_SUCCESS)
        return fail("the MQTT user name cannot be used");
    const std::string status = t.StatusTopic();
    if (mosquitto_will_set(mosq_, status.c_str(), 7, "offline", 1, true) != MOSQ_ERR_SUCCESS)
        return fail("the topic prefix '" + t.prefix + "' cannot be used");
    if (t.tls) {
        const int rc = mosquitto_tls_set(mosq_, t.caFile.empty() ? nullptr : t.caFile.c_str(),
                                         t.caFile.empty() ? "/etc/ssl/certs" : nullptr,
                                         t.certFile.empty() ? nullptr : t.certFile.c_str(),
                                         t.keyFile.empty() ? nullptr : t.keyFile.c_str(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(std::string("cannot use the TLS certificates: ") + mosquitto_strerror(rc));
    }
    mosquitto_connect_callback_set(mosq_, &OnConnect);
    mosquitto_disconnect_callback_set(mosq_, &OnDisconnect);
    mosquitto_publish_callback_set(mosq_, &OnPublish);
    mosquitto_message_callback_set(mosq_, &OnMessage);
    return true;
}

void MqttLink::Start() {
    thread_ = std::thread([this] {
        // Named for top, perf and the benchmarks' per-thread figures.
        ::pthread_setname_np(::pthread_self(), "zelvox-mqtt");
        Body();
    });
}

int MqttLink::Publish(const std::string& topic, std::string_view payload, bool retain, int* mid) {
    return mosquitto_publish(mosq_, mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                             retain);
}

void MqttLink::Drop(const std::string& why) {
    {
        std::lock_guard lock(mutex_);
        state_.dropReason = why;
    }
    mosquitto_disconnect(mosq_);
}

void MqttLink::Disconnect() {
    mosquitto_disconnect(mosq_);
}

void MqttLink::Finish() {
    {
        std::lock_guard lock(mutex_);
        state_.quit = true;
        quitLoop_.store(true);
        pause_.notify_one();
    }
    if (thread_.joinable())
        thread_.join();
}

// ---- libmosquitto callbacks, on the link thread ----

void MqttLink::OnConnect(mosquitto*, void* self, int rc) {
    static_cast<MqttLink*>(self)->Connected(rc);
}

void MqttLink::OnDisconnect(mosquitto*, void* self, int) {
    auto* link = static_cast<MqttLink*>(self);
    std::lock_guard lock(link->mutex_);
    link->state_.connected = false;
    link->wake_.notify_one();
}

void MqttLink::OnPublish(mosquitto*, void* self, int mid) {
    auto* link = static_cast<MqttLink*>(self);
    std::lock_guard lock(link->mutex_);
    LinkState& s = link->state_;
    s.acks.push_back(mid);
    // A trickle of acknowledgements waits for the outbox's next look (a new row, or its
    // once-a-second round); only a filling window, a resend or the end needs them at once.
    if (s.acks.size() == 1 && (s.acksUrgent || s.stopping))
        link->wake_.notify_one();
}

void MqttLink::OnMessage(mosquitto*, void* self, const mosquitto_message* m) {
    auto* link = static_cast<MqttLink*>(self);
    const std::string_view payload(static_cast<const char*>(m->payload),
                                   static_cast<std::size_t>(m->payloadlen));
    if (payload != "online")
        return;
    std::lock_guard lock(link->mutex_);
    link->state_.discoveryDue = true;
    link->wake_.notify_one();
}

// Called by libmosquitto before it sends again what the last connection left unacknowledged.
void MqttLink::Connected(int rc) {
    std::lock_guard lock(mutex_);
    if (rc != 0) {
        state_.detail = ConnackText(rc);
        // A wrong password or client id does not get better by trying again.
        state_.refused = rc != 3;
        return;
    }
    state_.connected = true;
    connectedAt_ = Clock::now();
    ++state_.connections;
    if (shortLived_ < kTakeoverCount)
        state_.detail.clear();
    const std::string status = options_.target.StatusTopic();
    mosquitto_publish(mosq_, nullptr, status.c_str(), 6, "online", 1, true);
    if (options_.discovery)
        mosquitto_subscribe(mosq_, nullptr, "homeassistant/status", 1);
    wake_.notify_one();
}

// True while connected. The library answers a CONNACK by calling the connect callback and then
// queueing again what the last connection left unacknowledged; once the loop that handled it
// has returned, the connection is ready for new rows.
bool MqttLink::MarkReady() {
    std::lock_guard lock(mutex_);
    if (state_.connected && state_.readyConnection != state_.connections) {
        state_.readyConnection = state_.connections;
        wake_.notify_one();
    }
    return state_.connected;
}

// When a TLS handshake fails: tries it again without checking the host name. If it then passes,
// the CA is right and the certificate names another host.
bool MqttLink::HostNameIsTheProblem() {
    const MqttTarget& t = options_.target;
    mosquitto* probe = mosquitto_new(nullptr, true, nullptr);
    if (!probe)
        return false;
    mosquitto_int_option(probe, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    bool mismatch = false;
    if (mosquitto_tls_set(probe, t.caFile.empty() ? nullptr : t.caFile.c_str(),
                          t.caFile.empty() ? "/etc/ssl/certs" : nullptr,
                          t.certFile.empty() ? nullptr : t.certFile.c_str(),
                          t.keyFile.empty() ? nullptr : t.keyFile.c_str(), nullptr) == MOSQ_ERR_SUCCESS &&
        mosquitto_tls_insecure_set(probe, true) == MOSQ_ERR_SUCCESS)
        mismatch =
            mosquitto_connect(probe, t.host.c_str(), t.port, options_.keepAliveSeconds) == MOSQ_ERR_SUCCESS;
    mosquitto_destroy(probe);
    return mismatch;
}

std::string MqttLink::Server() const {
    const std::string& host = options_.target.host;
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(options_.target.port);
}

void MqttLink::Body() {
    bool first = true;
    bool tlsChecked = false, tlsMismatch = false;
    std::unique_lock lock(mutex_);
    retryMs_ = options_.firstRetryMs;
    while (!state_.quit && !state_.refused) {
        const int before = state_.connections;
        lock.unlock();
        int rc = first ? mosquitto_connect_async(mosq_, options_.target.host.c_str(), options_.target.port,
                                                 options_.keepAliveSeconds)
                       : mosquitto_reconnect_async(mosq_);
        int savedErrno = errno;
        if (rc != MOSQ_ERR_INVAL)
            first = false;
        const Clock::time_point tried = Clock::now();
        bool silent = false;
        if (rc == MOSQ_ERR_SUCCESS) {
            // Until the broker has answered, look often: the library does not always ask to hear
            // when a pending connection completes. Then sleep until the socket, a publish, the
            // disconnect at the end or the keep-alive wakes the loop.
            const int idleMs = options_.keepAliveSeconds * 1000;
            bool wasUp = false;
            while (!quitLoop_.load()) {
                const bool up = MarkReady();
                if (up) {
                    wasUp = true;
                } else if (wasUp) {
                    rc = MOSQ_ERR_CONN_LOST; // ended by the broker or by Drop
                    break;
                } else if (Clock::now() - tried > std::chrono::milliseconds(options_.answerTimeoutMs)) {
                    silent = true; // a server that takes the connection and says nothing
                    mosquitto_disconnect(mosq_);
                    break;
                }
                errno = 0;
                rc = mosquitto_loop(mosq_, up ? idleMs : 20, 1);
                if (rc != MOSQ_ERR_SUCCESS)
                    break;
            }
            savedErrno = errno;
        }
        lock.lock();
        const bool answered = state_.connections != before;
        state_.connected = false;
        if (state_.quit || state_.refused)
            break;
        // A connection the broker closes as soon as it is made, again and again: another client
        // took over our session with the same id.
        if (answered && rc != MOSQ_ERR_SUCCESS && state_.dropReason.empty() &&
            Clock::now() - connectedAt_ < std::chrono::milliseconds(kTakeoverMs))
            ++shortLived_;
        else if (answered)
            shortLived_ = 0;
        std::string& detail = state_.detail;
        if (silent) {
            detail = NoAnswerText(Server(), options_.answerTimeoutMs / 1000);
        } else if (!state_.dropReason.empty()) {
            detail = state_.dropReason;
        } else if (shortLived_ >= kTakeoverCount) {
            detail = TakeoverText(options_.clientId);
        } else if (detail.empty() || rc != MOSQ_ERR_CONN_REFUSED) {
            detail = LinkErrorText(rc, savedErrno, answered, Server());
            if (rc == MOSQ_ERR_TLS && !tlsChecked) {
                lock.unlock();
                tlsMismatch = HostNameIsTheProblem();
                lock.lock();
                tlsChecked = true;
            }
            if (rc == MOSQ_ERR_TLS && tlsMismatch)
                detail = HostNameMismatchText(options_.target.host);
        }
        state_.dropReason.clear();
        wake_.notify_one();
        // A connection that lasted starts the pauses over; a taken-over one backs off further
        // than the usual longest pause.
        if (answered && shortLived_ == 0)
            retryMs_ = options_.firstRetryMs;
        pause_.wait_for(lock, std::chrono::milliseconds(retryMs_), [&] { return state_.quit; });
        const int ceiling = shortLived_ >= kTakeoverCount ? options_.maxRetryMs * 4 : options_.maxRetryMs;
        retryMs_ = std::min(retryMs_ * 2, ceiling);
    }
    wake_.notify_one();
}

} // namespace zelvox
