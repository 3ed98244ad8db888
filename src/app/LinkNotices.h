// What the user reads in status pane 3 about the running link: "No data from PORT ...", "PORT
// unplugged ..." and "PORT is back", each withdrawn when it stops being true (data came, STOP).
#pragma once

#include "link/LinkEvent.h"

#include <QObject>
#include <QString>

namespace zelvox {

class MainWindow;
class MeterSession;

// The notice of a link event on port (errno `error` for Lost); empty for Heard.
QString LinkNoticeText(LinkEvent event, int error, const QString& port);

class LinkNotices : public QObject {
    Q_OBJECT
public:
    // Follows the window's session and posts to the window's notice queue.
    explicit LinkNotices(MainWindow& window);

private:
    void OnLinkChanged(LinkEvent event, int error);
    void Withdraw(QString& text);

    MainWindow& window_;
    QString silence_; // the notices standing, empty when none
    QString lost_;
};

} // namespace zelvox
