// A real MQTT broker for tests: mosquitto on a free loopback port, with its own configuration
// and persistence folder, that a test can stop (SIGTERM), kill (SIGKILL) and start again; a
// subscriber with a persistent QoS 1 session; and the count of what arrived against the
// journals it came from.
#pragma once

#include "support/Child.h"

#include <QString>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace zelvox::testing {

class Broker {
public:
    struct Options {
        QString certFile, keyFile; // a TLS listener when set
        QString passwordFile;      // mosquitto_passwd file; anonymous clients refused then
    };
    // dir holds the configuration and the persistence folder.
    explicit Broker(const QString& dir, Options options = {});
    ~Broker();

    // Starts mosquitto and waits until it takes connections. False with the broker's output.
    bool Start(std::string* why = nullptr);
    // Ends it with signal (SIGTERM: it saves its state; SIGKILL: it does not) and waits.
    void Stop(int signal);
    int Port() const { return port_; }
    // The process id (to stop it with SIGSTOP: a broker that holds connections and answers
    // none), or 0.
    pid_t Pid() const { return mosquitto_.Pid(); }

private:
    QString dir_;
    Options options_;
    int port_ = 0;
    Child mosquitto_; // its log goes to a file: nothing fills the pipes
};

// A free TCP port on 127.0.0.1 (bound once and let go).
int FreeLoopbackPort();

class Subscriber {
public:
    // A persistent session (clean session off) with client id, subscribed at QoS 1 to topic.
    Subscriber(int port, std::string clientId, std::string topic, std::string caFile = {});
    ~Subscriber();

    // A user name and password for the broker; before Start.
    void Login(const std::string& user, const std::string& password);
    // Connects (trying for up to timeoutMs) and waits for the subscription to be granted.
    bool Start(int timeoutMs = 10000);
    std::vector<std::string> Messages() const;
    // Waits until done(messages) holds; false at the time-out.
    bool WaitFor(const std::function<bool(const std::vector<std::string>&)>& done, int timeoutMs);

private:
    static void OnConnect(mosquitto*, void*, int);
    static void OnSubscribe(mosquitto*, void*, int, int, const int*);
    static void OnMessage(mosquitto*, void*, const mosquitto_message*);

    int port_;
    std::string clientId_, topic_, caFile_;
    mosquitto* mosq_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> messages_;
    bool subscribed_ = false;
};

// What reached the subscriber against what the journals hold.
struct Delivery {
    int journalRows = 0; // rows in the journals
    int delivered = 0;   // distinct (run, index) received
    int duplicates = 0;  // messages received more than once
    int missing = 0;     // journal rows never received
    int invented = 0;    // received rows no journal holds, or that differ from it
    int outOfOrder = 0;  // first arrivals not in (run, index) order
    std::string Describe() const;
    bool Exact() const { return journalRows > 0 && missing == 0 && invented == 0 && outOfOrder == 0; }
};

// Compares the reading messages with the rows of every journal (*.csv) in journalDir.
Delivery CountDelivery(const QString& journalDir, const std::vector<std::string>& messages);

} // namespace zelvox::testing
