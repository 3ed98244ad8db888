#include "app/AlarmNotices.h"

#include "alarm/AlarmOutputs.h"
#include "app/MainWindow.h"
#include "journal/AlarmKeeper.h"
#include "journal/RecordKeeper.h"
#include "session/MeterSession.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QVBoxLayout>
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
    alarms_ = alarms;
    if (auto* set = window.menuBar()->findChild<QMenu*>(QStringLiteral("SET")))
        connect(set->addAction(QStringLiteral("Alarms...")), &QAction::triggered, this,
                &AlarmNotices::ShowRules);
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
    // The live Run View draws the rule's firing span as it happens.
    window_->Session().Keeper().KeepEvent(AlarmEventRow(rule, e));
    const QString name = QString::fromStdString(rule.name);
    firing_.removeAll(name);
    if (e.firing)
        firing_ << name;
    window_->setWindowTitle(Title(firing_));
    Notify(QStringLiteral("Zelvox: %1 %2").arg(name, QLatin1String(e.firing ? "firing" : "ok")), text);
}

void AlarmNotices::ShowRules() {
    QDialog dialog(window_);
    dialog.setObjectName(QStringLiteral("alarmsDialog"));
    dialog.setWindowTitle(QStringLiteral("Alarms"));
    auto* list = new QListWidget(&dialog);
    auto* rule = new QLineEdit(&dialog);
    rule->setPlaceholderText(QStringLiteral("NAME: CONDITION [clear LEVEL] [for DURATION]"));
    auto* why = new QLabel(&dialog);
    auto* add = new QPushButton(QStringLiteral("Add"), &dialog);
    auto* remove = new QPushButton(QStringLiteral("Remove"), &dialog);
    auto* close = new QPushButton(QStringLiteral("Close"), &dialog);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(list);
    layout->addWidget(rule);
    layout->addWidget(why);
    layout->addLayout(buttons);
    std::vector<std::string> names;
    const auto fill = [&] {
        const int row = list->currentRow();
        list->clear();
        names.clear();
        for (const AlarmKeeper::RuleState& r : alarms_->Rules()) {
            const char* state = r.state == AlarmState::Firing    ? "firing"
                                : r.state == AlarmState::Pending ? "pending"
                                                                 : "ok";
            list->addItem(QStringLiteral("%1: %2 (%3)")
                              .arg(QString::fromStdString(r.rule.name), QString::fromStdString(r.rule.text),
                                   QLatin1String(state)));
            names.push_back(r.rule.name);
        }
        list->setCurrentRow(std::min(row, list->count() - 1));
    };
    fill();
    // The states change while the dialog is open.
    QTimer refresh;
    connect(&refresh, &QTimer::timeout, &dialog, fill);
    refresh.start(500);
    connect(add, &QPushButton::clicked, &dialog, [&] {
        const std::string text = rule->text().trimmed().toStdString();
        AlarmRule parsed;
        AlarmRuleError error;
        if (!ParseAlarmRule(text, parsed, &error)) {
            why->setText(QString::fromStdString(DescribeRuleError(error, text)));
            return;
        }
        if (std::find(names.begin(), names.end(), parsed.name) != names.end()) {
            why->setText(
                QStringLiteral("There is a rule named %1 already").arg(QString::fromStdString(parsed.name)));
            return;
        }
        why->clear();
        rule->clear();
        alarms_->Add(std::move(parsed));
        fill();
    });
    connect(remove, &QPushButton::clicked, &dialog, [&] {
        const int row = list->currentRow();
        if (row >= 0 && static_cast<std::size_t>(row) < names.size())
            alarms_->Remove(names[static_cast<std::size_t>(row)]);
        fill();
    });
    connect(close, &QPushButton::clicked, &dialog, &QDialog::accept);
    dialog.exec();
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
