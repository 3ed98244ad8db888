// Helpers for the link tests: spinning the UI event loop, answering modal boxes, CPU time.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <ctime>
#include <functional>

namespace zelvox::testing {

// Runs the UI event loop until pred() holds or timeoutMs pass; returns pred().
inline bool SpinUntil(const std::function<bool()>& pred, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return pred();
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

inline void SpinFor(int ms) {
    SpinUntil([] { return false; }, ms);
}

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

// CPU seconds this process has used so far (all threads).
inline double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

} // namespace zelvox::testing
