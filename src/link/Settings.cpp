#include "link/Settings.h"

namespace zelvox {

QString PortStatusText(const QString& portName) {
    if (portName.isEmpty())
        return QStringLiteral("NO PORT");
    return portName + QStringLiteral(",2400,N,8,1");
}

} // namespace zelvox
