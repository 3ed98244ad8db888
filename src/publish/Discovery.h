// Home Assistant's MQTT discovery: one retained sensor config per meter function, under
// homeassistant/sensor/<client id>/f<function code>/config, reading PREFIX/reading.
//
// Each sensor shows the readings of its own function: its value template renders the value of a
// reading of that function and "" for any other (Home Assistant ignores an empty state, where a
// text such as "unknown" would be refused by a sensor with a unit). Where Home Assistant has a
// device class for the quantity, the config names it, with the unit spelled as Home Assistant's
// own constant for it.
#pragma once

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

} // namespace zelvox
