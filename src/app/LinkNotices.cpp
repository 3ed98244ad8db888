#include "app/LinkNotices.h"

#include "app/MainWindow.h"
#include "link/AcquisitionCore.h"
#include "session/MeterSession.h"

#include <cstring>
#include <utility>

namespace zelvox {

QString LinkNoticeText(LinkEvent event, int error, const QString& port) {
    switch (event) {
    case LinkEvent::Silent:
        return QStringLiteral("No data from %1 \u2014 check: meter on, serial output enabled, right port")
            .arg(port);
    case LinkEvent::Lost:
        if (IsUnplugged(error))
            return QStringLiteral("%1 unplugged \u2014 reopening it every second").arg(port);
        return QStringLiteral("%1 failed (%2) \u2014 reopening it every second")
            .arg(port, QString::fromLocal8Bit(std::strerror(error)));
    case LinkEvent::Absent:
        return QStringLiteral("%1 is not there \u2014 opening it when it appears").arg(port);
    case LinkEvent::Back:
        return QStringLiteral("%1 is back").arg(port);
    case LinkEvent::Heard:
        break;
    }
    return {};
}

LinkNotices::LinkNotices(MainWindow& window) : QObject(&window), window_(window) {
    MeterSession& session = window.Session();
    connect(&session, &MeterSession::linkChanged, this, &LinkNotices::OnLinkChanged);
    // The run is over: what was said about its link is no longer true.
    connect(&session, &MeterSession::stopped, this, [this] {
        Withdraw(silence_);
        Withdraw(lost_);
    });
}

void LinkNotices::OnLinkChanged(LinkEvent event, int error) {
    const QString text = LinkNoticeText(event, error, window_.Session().RunPort());
    switch (event) {
    case LinkEvent::Silent:
        silence_ = text;
        window_.PostNotice(text);
        break;
    case LinkEvent::Heard:
        Withdraw(silence_);
        break;
    case LinkEvent::Lost:
    case LinkEvent::Absent:
        Withdraw(silence_);
        lost_ = text;
        window_.PostNotice(text);
        break;
    case LinkEvent::Back:
        // The notice of the loss stays until its time is up: the user sees both.
        lost_.clear();
        window_.PostNotice(text);
        break;
    }
}

void LinkNotices::Withdraw(QString& text) {
    if (!text.isEmpty())
        window_.WithdrawNotice(std::exchange(text, QString()));
}

} // namespace zelvox
