// The settings record: port name, port index and sampling rate. Never stored on disk;
// every run starts from the same values.
#pragma once

#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdint>

namespace zelvox {

// The sampling rates the program offers, in readings per minute.
constexpr int kMinSamplingRate = 1;
constexpr int kMaxSamplingRate = 120;

// The time between two dispatched readings at a sampling rate (readings per minute, clamped to
// the rates offered). The first reading stored after a dispatch waits this long; the newest
// reading by then is the one handed out.
inline std::chrono::milliseconds SamplingPeriod(int readingsPerMinute) {
    return std::chrono::milliseconds(60000 /
                                     std::clamp(readingsPerMinute, kMinSamplingRate, kMaxSamplingRate));
}

struct Settings {
    QString portName = QStringLiteral("COM0");
    std::uint16_t portIndex = 0;
    std::uint16_t samplingRate = kMaxSamplingRate; // readings per minute
};

// The status bar's port text: "NO PORT" for an empty name, else name + ",2400,N,8,1".
QString PortStatusText(const QString& portName);

} // namespace zelvox
