#include "export/ExportSupport.h"

#include "panes/ControlPanel.h"
#include "panes/PaneLinks.h"

#include <QFileDevice>
#include <QMessageBox>

namespace zelvox {

ExportPause::ExportPause(PaneLinks& links) {
    if (ControlPanel* panel = links.PanelPane()) {
        flag_ = &panel->acquisition().paused;
        flag_->store(1);
    }
}

void ExportPause::Release() {
    if (flag_)
        flag_->store(0);
    flag_ = nullptr;
}

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
