// Helpers for the dialog tests: answering the next modal widget the UI thread shows.
#pragma once

#include "support/EventLoop.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <functional>

namespace zelvox::testing {

// What a modal message box said.
struct SeenBox {
    bool seen = false;
    QString caption, text, detail;
    bool hadOwner = false;
};

// Acts on the next modal widget the UI thread shows (from inside its exec()). Keep it alive
// across the call that shows the widget.
class ModalProbe {
public:
    explicit ModalProbe(std::function<void(QWidget*)> act) : act_(std::move(act)) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            timer_.stop();
            act_(modal);
        });
        timer_.start();
    }

private:
    std::function<void(QWidget*)> act_;
    QTimer timer_;
};

// Records a message box into *seen and closes it with OK.
inline std::function<void(QWidget*)> RecordBox(SeenBox* seen) {
    return [seen](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box) {
            w->close();
            return;
        }
        seen->seen = true;
        seen->caption = box->windowTitle();
        seen->text = box->text();
        seen->detail = box->detailedText();
        seen->hadOwner = box->parentWidget() != nullptr;
        box->done(QMessageBox::Ok);
    };
}

} // namespace zelvox::testing
