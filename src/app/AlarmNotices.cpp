#include "app/AlarmNotices.h"

#include "alarm/AlarmOutputs.h"
#include "app/MainWindow.h"
#include "journal/AlarmKeeper.h"
#include "session/MeterSession.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QSocketNotifier>
#include <QVariantMap>

namespace zelvox {

AlarmNotices::AlarmNotices(MainWindow& window, std::vector<AlarmRule> rules, const std::string& command,
                           const QString& port)
    : QObject(&window), window_(&window) {
    MeterSession& session = window.Session();
    auto keeper = std::make_unique<AlarmKeeper>(std::move(rules), port.toStdString());
    keeper->OnSeen([this](const AlarmRule& rule, const AlarmEvent& e) { Seen(rule, e); });
    keeper->OnNotice([this](const std::string& text) {
        if (window_)
            window_->PostNotice(QString::fromStdString(text.substr(0, 1)).toUpper() +
                                QString::fromStdString(text.substr(1)));
    });
    keeper->RunCommand(command);
    AlarmKeeper* alarms = keeper.get();
    wake_ = new QSocketNotifier(alarms->WakeFd(), QSocketNotifier::Read, this);
    connect(wake_, &QSocketNotifier::activated, this, [alarms] { alarms->Deliver(); });
    session.WatchAlarms(std::move(keeper));
}

AlarmNotices::~AlarmNotices() = default;

QString AlarmNotices::Title(const QStringList& firing) {
    if (firing.isEmpty())
        return QStringLiteral("Zelvox");
    return QStringLiteral("\u26A0 %1 firing - Zelvox").arg(firing.join(QStringLiteral(", ")));
}

void AlarmNotices::Seen(const AlarmRule& rule, const AlarmEvent& e) {
    if (!window_)
        return;
    // "Alarm high firing: 4.500 V at 2026-12-10T03:12:07.415+01:00", the logger's words.
    const QString line = QString::fromStdString(AlarmLine("zelvox", rule, e)).mid(8).trimmed();
    const QString text = line.left(1).toUpper() + line.mid(1);
    window_->PostNotice(text);
    const QString name = QString::fromStdString(rule.name);
    firing_.removeAll(name);
    if (e.firing)
        firing_ << name;
    window_->setWindowTitle(Title(firing_));
    Notify(QStringLiteral("Zelvox: %1 %2").arg(name, QLatin1String(e.firing ? "firing" : "ok")), text);
}

// Sent without waiting for an answer: where no service runs, nothing happens.
void AlarmNotices::Notify(const QString& summary, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("Zelvox") << 0u << QStringLiteral("zelvox") << summary << body << QStringList()
         << QVariantMap() << -1;
    bus.asyncCall(call);
}

} // namespace zelvox
