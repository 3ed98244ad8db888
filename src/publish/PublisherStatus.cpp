#include "publish/PublisherStatus.h"

#include <cctype>
#include <cstring>
#include <mosquitto.h>
#include <mqtt_protocol.h>

namespace zelvox {

std::string DescribeStatus(const PublisherStatus& s) {
    std::string text;
    switch (s.state) {
    case BrokerState::Connecting:
        text = "connecting to the broker";
        break;
    case BrokerState::Online:
        text = "broker online";
        break;
    case BrokerState::Waiting:
        text = "broker unreachable";
        break;
    case BrokerState::Refused:
        text = "broker refused us";
        break;
    case BrokerState::Stopped:
        text = "publisher stopped";
        break;
    }
    if (!s.detail.empty())
        text += " (" + s.detail + ")";
    text += ", " + std::to_string(s.backlog) + (s.backlog == 1 ? " reading waiting" : " readings waiting");
    if (s.state == BrokerState::Refused && s.retrySeconds > 0)
        text += "; trying again in " + std::to_string(s.retrySeconds) + " s";
    if (!s.journalOff.empty())
        text += "; journal off (" + s.journalOff + "): " + std::to_string(s.inMemory) +
                (s.inMemory == 1 ? " reading only in memory" : " readings only in memory");
    if (s.memoryDropped > 0)
        text += "; " + std::to_string(s.memoryDropped) + " readings lost: the memory queue was full";
    return text;
}

std::string ConnackText(int rc) {
    switch (rc) {
    case 1:
    case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION:
        return "the broker does not speak MQTT 3.1.1 or 5";
    case 2:
    case MQTT_RC_CLIENTID_NOT_VALID:
        return "the broker refused the client id";
    case 4:
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
        return "the broker refused the user name or password";
    case 5:
    case MQTT_RC_NOT_AUTHORIZED:
        return "the broker refused the connection: not authorised (user name or password?)";
    default:
        return std::string("the broker refused the connection: ") +
               (rc >= 128 ? mosquitto_reason_string(rc) : mosquitto_connack_string(rc));
    }
}

std::string DisconnectReasonText(int reasonCode, const std::string& clientId) {
    if (reasonCode == MQTT_RC_SESSION_TAKEN_OVER)
        return "session taken over: another client connected with the id " + clientId;
    std::string reason = mosquitto_reason_string(reasonCode);
    if (!reason.empty())
        reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
    return "the broker ended the connection: " + reason;
}

std::string ClosedRightAfterText(int times) {
    return "the broker closed the connection right after accepting it, " + std::to_string(times) + " times";
}

std::string LinkErrorText(int rc, int savedErrno, bool answered, const std::string& server) {
    // The server closed the connection (end of file) before any CONNACK.
    const bool closed = rc == MOSQ_ERR_CONN_LOST || (rc == MOSQ_ERR_ERRNO && savedErrno == 0);
    if (closed && !answered)
        return server + " closed the connection without answering (is it an MQTT broker?)";
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        return savedErrno != 0 ? std::strerror(savedErrno) : "connection lost";
    case MOSQ_ERR_TLS:
        return "TLS handshake failed (is the CA certificate the broker's?)";
    case MOSQ_ERR_CONN_LOST:
        return "connection lost";
    case MOSQ_ERR_PROTOCOL:
    case MOSQ_ERR_MALFORMED_PACKET:
        return server + " does not speak MQTT";
    case MOSQ_ERR_KEEPALIVE:
        return "the broker stopped answering";
    default:
        return mosquitto_strerror(rc);
    }
}

std::string NoAnswerText(const std::string& server, int seconds) {
    return "no answer from the broker at " + server + " in " + std::to_string(seconds) + " s";
}

std::string NoAcknowledgementText(int seconds) {
    return "the broker acknowledged nothing for " + std::to_string(seconds) + " s; connecting again";
}

std::string HostNameMismatchText(const std::string& host) {
    return "the broker's certificate is not for the host name " + host;
}

std::string UntrustedCertificateText(const std::string& caFile, bool hostToo, const std::string& host) {
    const std::string ca =
        caFile.empty() ? "by any CA this system trusts (give --mqtt-cafile)" : "by the CA in " + caFile;
    return hostToo ? "the broker's certificate is neither signed " + ca + " nor for the host name " + host
                   : "the broker's certificate is not signed " + ca;
}

} // namespace zelvox
