// The settings record: port name, port index and sampling rate. Never stored on disk;
// every run starts from the same values.
#pragma once

#include <QString>
#include <cstdint>

namespace zelvox {

struct Settings {
    QString portName = QStringLiteral("COM0");
    std::uint16_t portIndex = 0;
    std::uint16_t samplingRate = 120; // readings per minute, 1..120
};

// The status bar's port text: "NO PORT" for an empty name, else name + ",2400,N,8,1".
QString PortStatusText(const QString& portName);

} // namespace zelvox
