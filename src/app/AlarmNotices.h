// The window's side of the alarm rules (journal/AlarmKeeper.h): each event as a notice in status
// pane 3 and a desktop notification (the freedesktop Notifications service on the session bus,
// left out where none answers), and the window's title marked while any rule fires (no pane
// changes its size for it).
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <string>
#include <vector>

class QSocketNotifier;

namespace zelvox {

class AlarmKeeper;
class MainWindow;
struct AlarmRule;
struct AlarmEvent;

class AlarmNotices : public QObject {
    Q_OBJECT
public:
    // Builds the session's alarm keeper for rules (ZELVOX_PORT: the port chosen at start-up),
    // with the command when one is given, and takes its events on this thread.
    AlarmNotices(MainWindow& window, std::vector<AlarmRule> rules, const std::string& command,
                 const QString& port);
    ~AlarmNotices() override;

    // The window's title: "Zelvox", or "⚠ high firing - Zelvox" while rules fire.
    static QString Title(const QStringList& firing);

    // SET > Alarms...: the rules and their states; rules added or removed there hold for the
    // rest of this run (nothing is stored).
    void ShowRules();

private:
    void Seen(const AlarmRule& rule, const AlarmEvent& e);
    void Notify(const QString& summary, const QString& body);

    QPointer<MainWindow> window_;
    AlarmKeeper* alarms_ = nullptr;   // the session's
    QSocketNotifier* wake_ = nullptr; // child object
    QStringList firing_;
};

} // namespace zelvox
