#include "dialogs/LinkMessages.h"

#include <QMessageBox>
#include <cerrno>

namespace zelvox {

void ShowLinkMessage(QWidget* owner, const QString& text, const QString& caption, const QString& detail) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
    if (!detail.isEmpty())
        box.setDetailedText(detail);
    box.exec();
}

QString OpenPortErrorDetail(int errorCode, const QString& reason) {
    QString detail = reason;
    if (errorCode == EACCES || errorCode == EPERM) {
        detail += QStringLiteral(
            "\n\nYour user account is not allowed to use serial ports. On Debian, serial ports "
            "belong to the group \"dialout\": add yourself with\n"
            "    sudo usermod -aG dialout $USER\n"
            "then log out and in again.");
    } else if (errorCode == EBUSY) {
        detail += QStringLiteral("\n\nAnother program is using this port. Close it and press START again.");
    } else if (errorCode == ENOENT) {
        detail +=
            QStringLiteral("\n\nThe port does not exist. Is the meter's cable plugged in? PORT SET lists "
                           "the ports found.");
    }
    return detail;
}

void ShowStartFailure(QWidget* owner, const StartResult& result) {
    switch (result.status) {
    case StartStatus::Started:
        break;
    case StartStatus::PortAlreadyOpen:
        ShowLinkMessage(owner, QStringLiteral("please close port fist"),
                        QStringLiteral("please close port fist"));
        break;
    case StartStatus::OpenPortFailed:
        ShowLinkMessage(owner, QStringLiteral("open port error"), QStringLiteral("error"),
                        OpenPortErrorDetail(result.errorCode, result.reason));
        break;
    case StartStatus::ThreadFailed:
        ShowLinkMessage(owner, QStringLiteral("open thread error,try again"), QStringLiteral("error"));
        break;
    }
}

} // namespace zelvox
