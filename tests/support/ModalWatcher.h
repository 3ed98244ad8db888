// Answers the modal boxes and file dialogs a command shows while a test runs it.
#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <vector>

namespace zelvox::testing {

// Watches for modal message boxes and file dialogs while a command runs and answers them:
// message boxes are recorded and closed with OK; a file dialog is recorded and handed to
// `onFileDialog` (which accepts or rejects it).
class ModalWatcher {
public:
    struct Box {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QString detail;
        bool hadOwner;
    };
    struct FileDialog {
        QStringList nameFilters;
        bool confirmsOverwrite;
        QFileDialog::AcceptMode mode;
        QString directory; // where it opened
    };
    std::vector<Box> boxes;
    std::vector<FileDialog> dialogs;
    std::function<void(QFileDialog*)> onFileDialog = [](QFileDialog* d) { d->reject(); };
    // The button that closes a message box (a question is answered with it too).
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    // Any other modal dialog is counted and handed to this, when set (else left alone).
    std::function<void(QWidget*)> onOtherModal;
    int others = 0;

    ModalWatcher() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
    }

private:
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && onOtherModal && !qobject_cast<QMessageBox*>(modal) &&
            !qobject_cast<QFileDialog*>(modal)) {
            ++others;
            onOtherModal(modal);
            return;
        }
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible())
                continue;
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                boxes.push_back({box->windowTitle(), box->text(), box->icon(), box->detailedText(),
                                 box->parentWidget() != nullptr});
                box->done(answer);
                return;
            }
            if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
                if (fileDialogBusy_)
                    continue;
                dialogs.push_back({dialog->nameFilters(),
                                   !dialog->testOption(QFileDialog::DontConfirmOverwrite),
                                   dialog->acceptMode(), dialog->directory().absolutePath()});
                // Answered from the event loop, not from this timer: accepting may open a nested
                // question, and a timer does not fire again while its own handler runs.
                fileDialogBusy_ = true;
                QPointer<QFileDialog> guard(dialog);
                QTimer::singleShot(0, &timer_, [this, guard] {
                    if (guard)
                        onFileDialog(guard);
                    fileDialogBusy_ = false;
                });
                return;
            }
        }
    }
    QTimer timer_;
    bool fileDialogBusy_ = false;
};

} // namespace zelvox::testing
