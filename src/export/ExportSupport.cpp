#include "export/ExportSupport.h"

#include <QFileDevice>
#include <QMessageBox>

namespace zelvox {

bool WriteFully(QFileDevice& file, const char* data, qint64 size) {
    qint64 done = 0;
    while (done < size) {
        const qint64 written = file.write(data + done, size - done);
        if (written <= 0)
            return false;
        done += written;
    }
    return file.flush();
}

void ShowErrorBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Zelvox"), text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace zelvox
