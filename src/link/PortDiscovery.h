// Finding the serial ports the system has, and the port chosen at start-up.
#pragma once

#include "link/Settings.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace zelvox {

// A source of port names, in order (DiscoverPorts unless a test supplies another).
using PortLister = std::function<QStringList()>;

// The serial ports registered with the system, as short names under /dev, in natural order
// of their names (ttyACM0, ttyS0, ttyS2, ttyUSB0, ttyUSB1, ttyUSB10): USB serial adapters
// (ttyUSB*), USB modems and CDC devices (ttyACM*) and on-board UARTs (ttyS*) that have a
// device behind them, a UART type other than "unknown" (the kernel lists 4 or 32 ttyS
// entries whatever the hardware) and a node under devRoot. A name of 10 characters or more
// ends the list there. The extra ports (SetExtraPorts) come first, as they are.
QStringList DiscoverPorts(const QString& sysRoot = QStringLiteral("/sys"),
                          const QString& devRoot = QStringLiteral("/dev"));

// Ports put at the head of every discovery: the built-in simulated meter, or the port named
// on the command line. UI thread.
void SetExtraPorts(const QStringList& ports);
QStringList ExtraPorts();

// Natural order of port names: text compared as text, runs of digits by their value.
bool PortNameLess(const QString& a, const QString& b);

// The start-up choice: port index 0, sampling rate 120 and the first discovered port, or
// "COM0" when there is none.
void ChooseStartupPort(Settings& settings, const PortLister& lister = {});

} // namespace zelvox
