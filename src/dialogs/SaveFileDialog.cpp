#include "dialogs/SaveFileDialog.h"

#include <QFileInfo>

namespace zelvox {

namespace {

// The user-interface thread is the only one that shows dialogs.
QString& LastFolder() {
    static QString folder;
    return folder;
}

} // namespace

QString GetSaveFileName(QWidget* parent, const QString& filter, QFileDialog::Options options) {
    const QString path =
        QFileDialog::getSaveFileName(parent, QString(), LastFolder(), filter, nullptr, options);
    if (!path.isEmpty())
        LastFolder() = QFileInfo(path).absolutePath();
    return path;
}

QString LastSaveFolder() {
    return LastFolder();
}

} // namespace zelvox
