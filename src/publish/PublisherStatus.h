// What the publisher says about itself: its state and counters, and the texts that tell a
// person what happened on the way to the broker.
#pragma once

#include <cstdint>
#include <string>

namespace zelvox {

enum class BrokerState {
    Connecting, // the first connection is being made
    Online,     // connected; rows go out
    Waiting,    // the broker cannot be reached; tries again after a pause
    Refused,    // the broker refused the credentials or the client id: tried again, less often
    Stopped,
};

struct PublisherStatus {
    BrokerState state = BrokerState::Connecting;
    std::string detail;              // why the broker is not reached (Waiting, Refused)
    std::uint64_t backlog = 0;       // journal rows the broker has not acknowledged yet
    std::uint64_t acknowledged = 0;  // rows acknowledged since Start
    std::string notice;              // the latest thing said once (a sidecar not trusted), or empty
    std::string journalOff;          // why the journal is off ("disk full"); empty while it is on
    std::uint64_t inMemory = 0;      // rows held only in memory, not yet acknowledged
    std::uint64_t memoryDropped = 0; // rows lost because the memory queue was full
    int retrySeconds = 0;            // Refused: the pause before the next try
    bool operator==(const PublisherStatus&) const = default;
};

// "broker online, 0 readings waiting", "broker unreachable (Connection refused), 12 readings
// waiting": one line for standard error or the status bar.
std::string DescribeStatus(const PublisherStatus& status);

// Why the broker refused a connection, from its CONNACK return code (MQTT 3.1.1) or reason
// code (MQTT 5).
std::string ConnackText(int rc);

// Why a connection attempt or a connection ended, from libmosquitto's result (rc) and errno.
// answered: the broker had answered the connection (CONNACK); server: "HOST:PORT".
std::string LinkErrorText(int rc, int savedErrno, bool answered, const std::string& server);

// The texts of what the publisher itself decided about the link.
std::string NoAnswerText(const std::string& server, int seconds);
std::string NoAcknowledgementText(int seconds);
// The broker ended the connection with an MQTT 5 reason code ("session taken over").
std::string DisconnectReasonText(int reasonCode, const std::string& clientId);
// MQTT 3.1.1: the broker closed `times` connections in a row as soon as it had accepted them.
std::string ClosedRightAfterText(int times);
std::string HostNameMismatchText(const std::string& host);
// The broker's certificate chain does not lead to the CA (caFile, or the system's CAs when
// empty); hostToo: nor is it for the host name.
std::string UntrustedCertificateText(const std::string& caFile, bool hostToo, const std::string& host);

} // namespace zelvox
