#include "link/PortDiscovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace zelvox {

namespace {

// A registry value name had room for 9 characters; a longer name ended the enumeration.
constexpr qsizetype kMaxPortNameLength = 9;

QStringList& ExtraPortList() {
    static QStringList ports;
    return ports;
}

// ttyS entries exist for every possible legacy UART; only those with a detected chip are real.
bool IsRealUart(const QString& ttyDir) {
    QFile type(ttyDir + QStringLiteral("/type"));
    if (!type.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    const int value = QString::fromLatin1(type.readAll()).trimmed().toInt(&ok);
    return ok && value != 0; // 0 is PORT_UNKNOWN
}

} // namespace

bool PortNameLess(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ie = i, je = j;
            while (ie < a.size() && a[ie].isDigit())
                ++ie;
            while (je < b.size() && b[je].isDigit())
                ++je;
            // Compare the numbers without leading zeros: first by length, then digit by digit.
            qsizetype is = i, js = j;
            while (is + 1 < ie && a[is] == QLatin1Char('0'))
                ++is;
            while (js + 1 < je && b[js] == QLatin1Char('0'))
                ++js;
            if (ie - is != je - js)
                return ie - is < je - js;
            const int cmp = QStringView(a).sliced(is, ie - is).compare(QStringView(b).sliced(js, je - js));
            if (cmp != 0)
                return cmp < 0;
            if (ie - i != je - j)
                return ie - i < je - j; // "1" before "01"
            i = ie;
            j = je;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

QStringList DiscoverPorts(const QString& sysRoot, const QString& devRoot) {
    static const QRegularExpression kSerialName(QStringLiteral("^tty(USB|ACM|S)[0-9]+$"));
    const QString ttyClass = sysRoot + QStringLiteral("/class/tty");
    QStringList found;
    const QStringList entries =
        QDir(ttyClass).entryList(QDir::Dirs | QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : entries) {
        const QRegularExpressionMatch match = kSerialName.match(name);
        if (!match.hasMatch())
            continue;
        const QString dir = ttyClass + QLatin1Char('/') + name;
        if (!QFileInfo::exists(dir + QStringLiteral("/device")))
            continue; // a virtual terminal line, not a port
        if (match.capturedView(1) == QLatin1String("S") && !IsRealUart(dir))
            continue;
        if (!QFileInfo::exists(devRoot + QLatin1Char('/') + name))
            continue; // no device node to open (a container, for instance)
        found << name;
    }
    std::sort(found.begin(), found.end(), PortNameLess);

    QStringList ports = ExtraPortList();
    for (const QString& name : std::as_const(found)) {
        if (name.size() > kMaxPortNameLength)
            break;
        if (name.isEmpty() || ports.contains(name))
            continue;
        ports << name;
    }
    return ports;
}

void SetExtraPorts(const QStringList& ports) {
    ExtraPortList() = ports;
}

QStringList ExtraPorts() {
    return ExtraPortList();
}

void ChooseStartupPort(Settings& settings, const PortLister& lister) {
    settings.portIndex = 0;
    settings.samplingRate = kMaxSamplingRate;
    const QStringList ports = lister ? lister() : DiscoverPorts();
    settings.portName = ports.isEmpty() ? QStringLiteral("COM0") : ports.front();
}

} // namespace zelvox
