#include "publish/MqttLink.h"

#include "publish/PublisherStatus.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netdb.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace zelvox {

namespace {

using Clock = std::chrono::steady_clock;

// Without a reason code from the broker (MQTT 3.1.1, or a broker that closes the socket before
// its DISCONNECT is out), connections that end within kShortLivedMs of being made,
// kShortLivedCount times in a row, are said as such: another client with our id, a broker that
// crashes, a proxy in the way look the same from here.
constexpr int kShortLivedMs = 3000;
constexpr int kShortLivedCount = 3;

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
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
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
    mosquitto_connect_v5_callback_set(mosq_, &OnConnect);
    mosquitto_disconnect_v5_callback_set(mosq_, &OnDisconnect);
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

void MqttLink::OnConnect(mosquitto*, void* self, int rc, int, const mqtt5__property*) {
    static_cast<MqttLink*>(self)->Connected(rc);
}

// rc: 0 when this side disconnected, the broker's reason code (MQTT 5, 128 and up) when it ended
// the connection with one, else libmosquitto's error. The reason is in the state at once, so
// that the first word after an outage says why.
void MqttLink::OnDisconnect(mosquitto*, void* self, int rc, const mqtt5__property*) {
    auto* link = static_cast<MqttLink*>(self);
    std::lock_guard lock(link->mutex_);
    LinkState& s = link->state_;
    const bool wasUp = s.connected;
    s.connected = false;
    link->endReason_ = rc >= 128 ? rc : 0;
    if (wasUp && rc != 0 && s.dropReason.empty())
        s.detail = rc >= 128 ? DisconnectReasonText(rc, link->options_.clientId)
                             : LinkErrorText(rc, 0, true, link->Server());
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
        // A broker of MQTT 3.1.1 answers a version 5 CONNECT with "unacceptable protocol".
        if (protocol_ == 5 && !spokeV5_ && (rc == 1 || rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION)) {
            fallBack_ = true;
            return;
        }
        state_.detail = ConnackText(rc);
        // A password or client id refused is tried again after longer and longer pauses (it may
        // be mended on the broker); a broker unavailable for now, after the usual ones.
        refusedNow_ = rc != 3 && rc != MQTT_RC_SERVER_UNAVAILABLE && rc != MQTT_RC_SERVER_BUSY;
        state_.refused = refusedNow_;
        return;
    }
    state_.connected = true;
    state_.refused = false;
    spokeV5_ = spokeV5_ || protocol_ == 5;
    connectedAt_ = Clock::now();
    ++state_.connections;
    if (shortLived_ < kShortLivedCount)
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

// When a TLS handshake fails: a handshake of our own that takes whatever the broker presents,
// then the chain checked against the CA and the certificate against the host name, each on its
// own, so that the answer is the same every time. Empty when it cannot tell (the handshake
// fails again, the certificate is fine and something else is wrong).
std::string MqttLink::TlsVerdict() const {
    const MqttTarget& t = options_.target;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(t.host.c_str(), std::to_string(t.port).c_str(), &hints, &found) != 0)
        return {};
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        const timeval limit{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        if (fd >= 0 && ::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0)
        return {};
    std::string verdict;
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL* ssl = ctx ? SSL_new(ctx) : nullptr;
    in6_addr ip{};
    const bool isIp =
        ::inet_pton(AF_INET, t.host.c_str(), &ip) == 1 || ::inet_pton(AF_INET6, t.host.c_str(), &ip) == 1;
    if (ssl) {
        SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
        if (!t.certFile.empty() && !t.keyFile.empty()) {
            SSL_use_certificate_chain_file(ssl, t.certFile.c_str());
            SSL_use_PrivateKey_file(ssl, t.keyFile.c_str(), SSL_FILETYPE_PEM);
        }
        if (!isIp)
            SSL_set_tlsext_host_name(ssl, t.host.c_str());
        SSL_set_fd(ssl, fd);
    }
    X509* leaf = ssl && SSL_connect(ssl) == 1 ? SSL_get1_peer_certificate(ssl) : nullptr;
    X509_STORE* store = leaf ? X509_STORE_new() : nullptr;
    X509_STORE_CTX* check = store ? X509_STORE_CTX_new() : nullptr;
    if (check &&
        X509_STORE_load_locations(store, t.caFile.empty() ? nullptr : t.caFile.c_str(),
                                  t.caFile.empty() ? "/etc/ssl/certs" : nullptr) == 1 &&
        X509_STORE_CTX_init(check, store, leaf, SSL_get_peer_cert_chain(ssl)) == 1) {
        const bool chainOk = X509_verify_cert(check) == 1;
        const bool hostOk = isIp ? X509_check_ip_asc(leaf, t.host.c_str(), 0) == 1
                                 : X509_check_host(leaf, t.host.data(), t.host.size(), 0, nullptr) == 1;
        if (!chainOk)
            verdict = UntrustedCertificateText(t.caFile, !hostOk, t.host);
        else if (!hostOk)
            verdict = HostNameMismatchText(t.host);
    }
    X509_STORE_CTX_free(check);
    X509_STORE_free(store);
    X509_free(leaf);
    if (ssl)
        SSL_free(ssl);
    SSL_CTX_free(ctx);
    ::close(fd);
    return verdict;
}

std::string MqttLink::Server() const {
    const std::string& host = options_.target.host;
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(options_.target.port);
}

void MqttLink::Body() {
    bool first = true;
    std::unique_lock lock(mutex_);
    retryMs_ = options_.firstRetryMs;
    refusedRetryMs_ = std::max(1000, options_.firstRetryMs);
    while (!state_.quit) {
        const int before = state_.connections;
        refusedNow_ = false;
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
        if (state_.quit)
            break;
        state_.refused = refusedNow_;
        if (fallBack_) {
            // Asked again at once in the broker's own version.
            fallBack_ = false;
            protocol_ = 4;
            mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
            continue;
        }
        // Connections the broker closes without a reason as soon as they are made, again and
        // again, are counted and said as such.
        if (answered && rc != MOSQ_ERR_SUCCESS && state_.dropReason.empty() && endReason_ == 0 &&
            Clock::now() - connectedAt_ < std::chrono::milliseconds(kShortLivedMs))
            ++shortLived_;
        else if (answered)
            shortLived_ = 0;
        std::string& detail = state_.detail;
        if (silent) {
            detail = NoAnswerText(Server(), options_.answerTimeoutMs / 1000);
        } else if (!state_.dropReason.empty()) {
            detail = state_.dropReason;
        } else if (answered && endReason_ != 0) {
            detail = DisconnectReasonText(endReason_, options_.clientId);
        } else if (shortLived_ >= kShortLivedCount) {
            detail = ClosedRightAfterText(shortLived_);
        } else if (state_.refused) {
            // detail is the CONNACK's reason
        } else if (detail.empty() || rc != MOSQ_ERR_CONN_REFUSED) {
            detail = LinkErrorText(rc, savedErrno, answered, Server());
            if (rc == MOSQ_ERR_TLS) {
                // Asked again at each failed connection: the broker's certificate may change.
                lock.unlock();
                const std::string verdict = TlsVerdict();
                lock.lock();
                if (!verdict.empty())
                    state_.detail = verdict;
            }
        }
        endReason_ = 0;
        state_.dropReason.clear();
        // A connection that lasted starts the pauses over. A refusal waits longer each time, up
        // to refusedRetryMs: it is mended on the broker, if ever, not by trying often.
        if (answered && shortLived_ == 0)
            retryMs_ = options_.firstRetryMs;
        if (!state_.refused)
            refusedRetryMs_ = std::max(1000, options_.firstRetryMs);
        const int pauseMs = state_.refused ? refusedRetryMs_ : retryMs_;
        state_.retrySeconds = state_.refused ? (pauseMs + 999) / 1000 : 0;
        wake_.notify_one();
        pause_.wait_for(lock, std::chrono::milliseconds(pauseMs), [&] { return state_.quit; });
        if (state_.refused)
            refusedRetryMs_ = std::min(refusedRetryMs_ * 2, std::max(options_.refusedRetryMs, 1000));
        else
            retryMs_ = std::min(retryMs_ * 2, options_.maxRetryMs);
    }
    wake_.notify_one();
}

} // namespace zelvox
