// Where readings are published: a broker, the topic prefix, the credentials and TLS files, from
// the command line's --mqtt URL and its companion options.
//
//   mqtt://[USER@]HOST[:PORT]/PREFIX     plain TCP, port 1883 by default
//   mqtts://[USER@]HOST[:PORT]/PREFIX    TLS, port 8883 by default
//
// HOST may be an IPv6 literal in brackets ([::1]). PREFIX is one or more topic levels
// (lab/bench3) without wildcards. The password never comes from the URL (other users see the
// command line): it is read from a file or from the environment.
#pragma once

#include <string>
#include <string_view>

namespace zelvox {

inline constexpr const char* kMqttPasswordVariable = "ZELVOX_MQTT_PASSWORD";

struct MqttTarget {
    bool tls = false;
    std::string user; // empty: connect without a user name
    std::string password;
    std::string host;
    int port = 0;
    std::string prefix;
    std::string caFile, certFile, keyFile; // TLS only; certFile and keyFile go together

    // mqtt://host:port/prefix without the user: names the target in outbox sidecars and messages.
    std::string Name() const;
    std::string ReadingTopic() const { return prefix + "/reading"; }
    std::string StatusTopic() const { return prefix + "/status"; }
    std::string JournalTopic() const { return prefix + "/journal"; }
    std::string AlarmTopic(std::string_view rule) const { return prefix + "/alarm/" + std::string(rule); }
};

// Parses url into target (scheme, user, host, port, prefix). False with *error saying what is
// wrong for anything else.
bool ParseMqttUrl(std::string_view url, MqttTarget& target, std::string* error);

// Fills target.password from passwordFile (its first line) when one is given, else from
// $ZELVOX_MQTT_PASSWORD when it is set. Checks that the TLS files can be read and go with the
// scheme. False with *error for an unreadable file or options that do not fit together.
// *warning, when given, says that the password file can be read by its group or others.
bool CompleteMqttTarget(MqttTarget& target, const std::string& passwordFile, std::string* error,
                        std::string* warning = nullptr);

// A client id that stays the same for one meter on one machine and differs between meters:
// zelvox-HOST-ttyUSB0 for a device name; for any other port path (a/meter, a symbolic link
// under /dev/serial/by-id) its last part and a hash of the whole path, zelvox-HOST-meter-1f2e3d4c.
// Characters other than letters, digits, '-' and '_' become '_'; the id stays within 64 bytes.
std::string DefaultMqttClientId(std::string_view hostName, std::string_view portName);

} // namespace zelvox
