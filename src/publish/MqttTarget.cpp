#include "publish/MqttTarget.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvox {

namespace {

bool Fail(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
    return false;
}

bool ReadableFile(const std::string& path, const char* what, std::string* error) {
    if (::access(path.c_str(), R_OK) != 0)
        return Fail(error, std::string("cannot read the ") + what + " " + path + ": " + std::strerror(errno));
    return true;
}

} // namespace

std::string MqttTarget::Name() const {
    const bool v6 = host.find(':') != std::string::npos;
    return std::string(tls ? "mqtts://" : "mqtt://") + (v6 ? "[" + host + "]" : host) + ":" +
           std::to_string(port) + "/" + prefix;
}

bool ParseMqttUrl(std::string_view url, MqttTarget& target, std::string* error) {
    const std::string quoted = "'" + std::string(url) + "'";
    MqttTarget t;
    std::string_view rest;
    if (url.starts_with("mqtt://")) {
        rest = url.substr(7);
    } else if (url.starts_with("mqtts://")) {
        t.tls = true;
        rest = url.substr(8);
    } else {
        return Fail(error, "the broker URL " + quoted + " must start with mqtt:// or mqtts://");
    }
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos)
        return Fail(error, "the broker URL " + quoted + " has no topic prefix (mqtt://HOST/PREFIX)");
    std::string_view authority = rest.substr(0, slash);
    std::string_view prefix = rest.substr(slash + 1);

    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view user = authority.substr(0, at);
        if (user.find(':') != std::string_view::npos)
            return Fail(error, std::string("the password does not go in the URL (other users can see it): "
                                           "use --mqtt-password-file FILE or ") +
                                   kMqttPasswordVariable);
        if (user.empty())
            return Fail(error, "the broker URL " + quoted + " has an empty user name before '@'");
        t.user = std::string(user);
        authority = authority.substr(at + 1);
    }

    std::string_view portText;
    if (authority.starts_with("[")) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return Fail(error, "the broker URL " + quoted + " has an unclosed '[' in its host");
        t.host = std::string(authority.substr(1, close - 1));
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && !after.starts_with(":"))
            return Fail(error, "the broker URL " + quoted + " has text after its host");
        if (!after.empty())
            portText = after.substr(1);
        else
            portText = {};
        if (after == ":")
            return Fail(error, "the broker URL " + quoted + " has an empty port");
    } else {
        const std::size_t colon = authority.find(':');
        t.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) {
            portText = authority.substr(colon + 1);
            if (portText.empty())
                return Fail(error, "the broker URL " + quoted + " has an empty port");
        }
    }
    if (t.host.empty())
        return Fail(error, "the broker URL " + quoted + " has no host");

    t.port = t.tls ? 8883 : 1883;
    if (!portText.empty()) {
        int port = 0;
        for (char c : portText) {
            if (c < '0' || c > '9' || port > 65535)
                return Fail(error, "the port in " + quoted + " is not a number from 1 to 65535");
            port = port * 10 + (c - '0');
        }
        if (port < 1 || port > 65535)
            return Fail(error, "the port in " + quoted + " is not a number from 1 to 65535");
        t.port = port;
    }

    while (prefix.ends_with("/"))
        prefix.remove_suffix(1);
    if (prefix.empty())
        return Fail(error, "the broker URL " + quoted + " has no topic prefix (mqtt://HOST/PREFIX)");
    if (prefix.find_first_of("+#") != std::string_view::npos)
        return Fail(error, "the topic prefix in " + quoted + " cannot hold the wildcards '+' or '#'");
    if (prefix.starts_with("/") || prefix.find("//") != std::string_view::npos)
        return Fail(error, "the topic prefix in " + quoted + " has an empty level");
    t.prefix = std::string(prefix);

    t.caFile = std::move(target.caFile);
    t.certFile = std::move(target.certFile);
    t.keyFile = std::move(target.keyFile);
    target = std::move(t);
    return true;
}

bool CompleteMqttTarget(MqttTarget& target, const std::string& passwordFile, std::string* error,
                        std::string* warning) {
    if (!passwordFile.empty()) {
        std::ifstream in(passwordFile);
        if (!in)
            return Fail(error, "cannot read the password file " + passwordFile + ": " + std::strerror(errno));
        // As ssh does for a private key: a secret others may read is said.
        struct stat st {};
        if (warning && ::stat(passwordFile.c_str(), &st) == 0 && (st.st_mode & 077) != 0) {
            char mode[8];
            std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
            *warning = "the password file " + passwordFile + " can be read by " +
                       ((st.st_mode & 007) != 0 ? "other users" : "its group") + " (mode " + mode +
                       "): chmod 600 " + passwordFile;
        }
        std::getline(in, target.password);
        if (!target.password.empty() && target.password.back() == '\r')
            target.password.pop_back();
    } else if (const char* env = std::getenv(kMqttPasswordVariable)) {
        target.password = env;
    }
    if (!target.password.empty() && target.user.empty())
        return Fail(error, "a password needs a user name in the URL (mqtt://USER@HOST/PREFIX)");
    const bool anyTlsFile = !target.caFile.empty() || !target.certFile.empty() || !target.keyFile.empty();
    if (anyTlsFile && !target.tls)
        return Fail(error, "the certificate options need an mqtts:// URL");
    if (target.certFile.empty() != target.keyFile.empty())
        return Fail(error, "a client certificate needs its key, and a key its certificate");
    if (!target.caFile.empty() && !ReadableFile(target.caFile, "CA certificate", error))
        return false;
    if (!target.certFile.empty() && !ReadableFile(target.certFile, "client certificate", error))
        return false;
    if (!target.keyFile.empty() && !ReadableFile(target.keyFile, "client key", error))
        return false;
    return true;
}

namespace {

bool IdCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

std::string IdText(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (!IdCharacter(c))
            c = '_';
    return out;
}

// FNV-1a, 32 bits: the same path gives the same id on every start.
std::string PathHash(std::string_view path) {
    std::uint32_t h = 2166136261u;
    for (const char c : path) {
        h ^= static_cast<unsigned char>(c);
        h *= 16777619u;
    }
    char text[9];
    std::snprintf(text, sizeof text, "%08x", h);
    return text;
}

} // namespace

std::string DefaultMqttClientId(std::string_view hostName, std::string_view portName) {
    constexpr std::size_t kLongest = 64;
    std::string id = "zelvox-" + IdText(hostName) + "-";
    std::string_view port = portName;
    if (port.starts_with("/dev/"))
        port.remove_prefix(5);
    // A plain device name (ttyUSB0, or /dev/ttyUSB0) stays readable as it is; any other path is
    // named by its last part and a hash of the whole path, so that a/meter and b/meter differ.
    const bool plain = !port.empty() && std::all_of(port.begin(), port.end(), IdCharacter);
    if (plain && id.size() + port.size() <= kLongest)
        return id + std::string(port);
    std::string_view last = port;
    if (const std::size_t slash = last.rfind('/'); slash != std::string_view::npos)
        last = last.substr(slash + 1);
    id += IdText(last);
    if (id.size() > kLongest - 9)
        id.resize(kLongest - 9);
    return id + "-" + PathHash(portName);
}

} // namespace zelvox
