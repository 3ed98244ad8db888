// The meter's measuring functions, by the functionCode a reading carries (0..27). The label
// tables, the scale table and the frame encoder are indexed by these.
#pragma once

#include <cstdint>

namespace zelvox {

enum FunctionCode : std::uint8_t {
    kNoFunction = 0,
    kDcVolt = 1,
    kDcMillivolt = 2,
    kAcVolt = 3,
    kAcMillivolt = 4,
    kDcAmpere = 5,
    kDcMilliampere = 6,
    kDcMicroampere = 7,
    kAcAmpere = 8,
    kAcMilliampere = 9,
    kAcMicroampere = 10,
    kOhm = 11,
    kKiloOhm = 12,
    kMegaOhm = 13,
    kNanofarad = 14,
    kMicrofarad = 15,
    kMillifarad = 16,
    kHertz = 17,
    kKilohertz = 18,
    kMegahertz = 19,
    kDutyCycle = 20,
    kDiode = 21,
    kContinuity = 22,
    kCelsius = 23,
    kFahrenheit = 24,
    kMilliseconds = 25,
    kAngle = 26,
    kKiloRpm = 27,
};

// Functions whose scale starts at 0 (angle, kRPM): the gauge's dial runs from 0 to twice the
// range maximum with the needle upright at the middle, and the graph's zero line is at the
// bottom of the plot.
constexpr bool IsUnipolar(std::uint8_t functionCode) {
    return functionCode == kAngle || functionCode == kKiloRpm;
}

} // namespace zelvox
