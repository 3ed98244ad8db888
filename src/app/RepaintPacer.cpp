#include "app/RepaintPacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace zelvox {

RepaintPacer::RepaintPacer(QWidget* window) : QObject(window), window_(window) {
    release_.setSingleShot(true);
    release_.setInterval(kLongestHold);
    connect(&release_, &QTimer::timeout, this, &RepaintPacer::Release);
    window_->installEventFilter(this);
}

void RepaintPacer::FrameShown() {
    sinceFrame_.start();
    if (held_)
        Release();
    else
        frameDue_ = true;
}

bool RepaintPacer::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_ || event->type() != QEvent::UpdateRequest)
        return false;
    const bool live = sinceFrame_.isValid() && sinceFrame_.elapsed() < kLongestHold;
    if (!live || frameDue_ || releasing_ || now_ > 0) {
        frameDue_ = releasing_ = false;
        return false;
    }
    // Swallowed: the window's dirty areas stay dirty, and Qt asks for no new cycle until one
    // has run, so everything updated meanwhile is painted in the one Release sends.
    held_ = true;
    if (!release_.isActive())
        release_.start();
    return true;
}

void RepaintPacer::Release() {
    release_.stop();
    if (!held_)
        return;
    held_ = false;
    releasing_ = true;
    QCoreApplication::postEvent(window_, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
}

} // namespace zelvox
