#include "publish/Discovery.h"

#include "decode/Labels.h"
#include "record/RowCodec.h"

#include <array>
#include <cmath>

namespace zelvox {

namespace {

// By function code, in the order of the function labels: "DCV V", "DCV mV", ... The units are
// Home Assistant's (kΩ, kHz and °C, where the meter's labels say KΩ, KHz and ℃).
constexpr std::array<DiscoveryKind, kFunctionCount> kKinds = {{
    {"", ""},                   // no define
    {"voltage", "V"},           // DCV V
    {"voltage", "mV"},          // DCV mV
    {"voltage", "V"},           // ACV V
    {"voltage", "mV"},          // ACV mV
    {"current", "A"},           // DCA A
    {"current", "mA"},          // DCA mA
    {"", "\u00B5A"},            // DCA uA: no current class in µA
    {"current", "A"},           // ACA A
    {"current", "mA"},          // ACA mA
    {"", "\u00B5A"},            // ACA uA
    {"", "\u03A9"},             // OHM Ω: no resistance class
    {"", "k\u03A9"},            // OHM KΩ
    {"", "M\u03A9"},            // OHM MΩ
    {"", "nF"},                 // CAP nF: no capacitance class
    {"", "\u00B5F"},            // CAP uF
    {"", "mF"},                 // CAP mF
    {"frequency", "Hz"},        // FRE Hz
    {"frequency", "kHz"},       // FRE KHz
    {"frequency", "MHz"},       // FRE MHz
    {"", "%"},                  // DUTY: a duty cycle, not a power factor
    {"voltage", "V"},           // DIODE: the forward voltage
    {"", "\u03A9"},             // Ω: continuity
    {"temperature", "\u00B0C"}, // TMP ℃
    {"temperature", "\u00B0F"}, // TMP ℉
    {"duration", "ms"},         // ms
    {"", "\u00B0"},             // °
    {"", "krpm"},               // kRPM
}};

} // namespace

DiscoveryKind DiscoveryKindOf(int functionCode) {
    if (functionCode < 0 || functionCode >= kFunctionCount)
        return {};
    return kKinds[static_cast<std::size_t>(functionCode)];
}

std::string DiscoveryTopic(const std::string& clientId, int functionCode) {
    return "homeassistant/sensor/" + clientId + "/f" + std::to_string(functionCode) + "/config";
}

namespace {

// The availability and device fields every config ends with, from the comma before them.
void AppendDevice(std::string& config, const MqttTarget& target, const std::string& clientId) {
    config += ",\"availability_topic\":";
    AppendJsonString(config, target.StatusTopic());
    config += ",\"payload_available\":\"online\",\"payload_not_available\":\"offline\",\"device\":{"
              "\"identifiers\":[";
    AppendJsonString(config, clientId);
    config += "],\"name\":";
    AppendJsonString(config, "Zelvox " + clientId);
    config += ",\"manufacturer\":\"Zelvox\"}}";
}

} // namespace

std::string DiscoveryConfig(const MqttTarget& target, const std::string& clientId, int functionCode) {
    const std::string label = ToUtf8(functionLabels[static_cast<std::size_t>(functionCode)]);
    const DiscoveryKind kind = DiscoveryKindOf(functionCode);
    const std::string object = "f" + std::to_string(functionCode);
    std::string config = "{\"name\":";
    AppendJsonString(config, label);
    config += ",\"unique_id\":";
    AppendJsonString(config, clientId + "_" + object);
    config += ",\"object_id\":";
    AppendJsonString(config, clientId + "_" + object);
    config += ",\"state_topic\":";
    AppendJsonString(config, target.ReadingTopic());
    // A reading of another function, or an overload (value null), renders "": no new state.
    config += ",\"value_template\":";
    AppendJsonString(config, "{% if value_json.function == '" + label +
                                 "' and value_json.value is number %}{{ value_json.value }}{% endif %}");
    if (!kind.deviceClass.empty()) {
        config += ",\"device_class\":";
        AppendJsonString(config, kind.deviceClass);
    }
    if (!kind.unit.empty()) {
        config += ",\"unit_of_measurement\":";
        AppendJsonString(config, kind.unit);
    }
    config += ",\"state_class\":\"measurement\"";
    AppendDevice(config, target, clientId);
    return config;
}

std::string AlarmMessage(bool firing, const WallTime& since, const Reading* reading,
                         std::string_view ruleText) {
    std::string message = firing ? "{\"state\":\"firing\",\"since\":" : "{\"state\":\"ok\",\"since\":";
    AppendJsonString(message, FormatIsoDateTime(since));
    const bool value = reading && !IsOverload(reading->value) && std::isfinite(reading->value);
    message += ",\"value\":";
    message += value ? FormatFullPrecision(reading->value) : std::string("null");
    message += ",\"unit\":";
    AppendJsonString(message, reading && reading->functionCode < kFunctionCount
                                  ? ToUtf8(unitLabels[reading->functionCode])
                                  : std::string());
    message += ",\"rule\":";
    AppendJsonString(message, ruleText);
    message += '}';
    return message;
}

std::string AlarmDiscoveryTopic(const std::string& clientId, std::string_view rule) {
    return "homeassistant/binary_sensor/" + clientId + "/alarm_" + std::string(rule) + "/config";
}

std::string AlarmDiscoveryConfig(const MqttTarget& target, const std::string& clientId,
                                 std::string_view rule) {
    const std::string object = clientId + "_alarm_" + std::string(rule);
    std::string config = "{\"name\":";
    AppendJsonString(config, "Alarm " + std::string(rule));
    config += ",\"unique_id\":";
    AppendJsonString(config, object);
    config += ",\"object_id\":";
    AppendJsonString(config, object);
    config += ",\"state_topic\":";
    AppendJsonString(config, target.AlarmTopic(rule));
    config += ",\"value_template\":\"{{ value_json.state }}\",\"payload_on\":\"firing\",\"payload_off\":"
              "\"ok\",\"device_class\":\"problem\"";
    AppendDevice(config, target, clientId);
    return config;
}

} // namespace zelvox
