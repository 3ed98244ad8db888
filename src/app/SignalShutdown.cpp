#include "app/SignalShutdown.h"

#include "link/StopSignals.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdint>

#include <unistd.h>

namespace zelvox {

SignalShutdown::SignalShutdown(QObject* parent)
    : QObject(parent),
      signals_(std::make_unique<StopSignals>(std::initializer_list<int>{SIGINT, SIGTERM, SIGHUP},
                                             /*secondEndsAtOnce=*/true)) {
    if (signals_->WakeFd() < 0) {
        qWarning("zelvox: no eventfd for signals; SIGINT, SIGTERM and SIGHUP end it abruptly");
        signals_.reset();
        return;
    }
    notifier_ = new QSocketNotifier(signals_->WakeFd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalShutdown::OnReadable);
}

SignalShutdown::~SignalShutdown() {
    delete notifier_;
}

void SignalShutdown::OnReadable() {
    std::uint64_t count = 0;
    if (::read(signals_->WakeFd(), &count, sizeof count) != sizeof count || !StopSignals::Received())
        return;
    emit received(StopSignals::Signal());
    // Modal dialogs and message boxes close too, so no nested event loop holds the end back;
    // quit() then leaves every event loop that is still running.
    QApplication::closeAllWindows();
    QApplication::quit();
}

} // namespace zelvox
