// Home Assistant's MQTT discovery: one retained sensor config per meter function, under
// homeassistant/sensor/<client id>/f<function code>/config, reading PREFIX/reading.
//
// Each sensor shows the readings of its own function: its value template renders the value of a
// reading of that function and "" for any other (Home Assistant ignores an empty state, where a
// text such as "unknown" would be refused by a sensor with a unit). Where Home Assistant has a
// device class for the quantity, the config names it, with the unit spelled as Home Assistant's
// own constant for it.
#pragma once

#include "decode/Reading.h"
#include "decode/WallClock.h"
#include "publish/MqttTarget.h"

#include <string>
#include <string_view>

namespace zelvox {

struct DiscoveryKind {
    std::string_view deviceClass; // empty: Home Assistant has no class for this quantity
    std::string_view unit;        // empty: a number without a unit
};

// What Home Assistant is told about the readings of function code (0..27).
DiscoveryKind DiscoveryKindOf(int functionCode);

std::string DiscoveryTopic(const std::string& clientId, int functionCode);

// The retained config for the sensor of functionCode.
std::string DiscoveryConfig(const MqttTarget& target, const std::string& clientId, int functionCode);

// An alarm rule's state, retained on PREFIX/alarm/NAME:
// {"state":"firing","since":"2026-12-10T03:12:07.415+01:00","value":4.5,"unit":"V","rule":"above 4.2 V"}
// since is the event's instant; value is null (and unit "") without a reading or for an overload.
std::string AlarmMessage(bool firing, const WallTime& since, const Reading* reading,
                         std::string_view ruleText);

// Home Assistant's binary sensor of an alarm rule (device class problem, on while it fires),
// under homeassistant/binary_sensor/<client id>/alarm_<NAME>/config, reading PREFIX/alarm/NAME.
std::string AlarmDiscoveryTopic(const std::string& clientId, std::string_view rule);
std::string AlarmDiscoveryConfig(const MqttTarget& target, const std::string& clientId,
                                 std::string_view rule);

} // namespace zelvox
