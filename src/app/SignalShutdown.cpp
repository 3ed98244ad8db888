#include "app/SignalShutdown.h"

#include <QApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

#include <fcntl.h>
#include <unistd.h>

namespace zelvox {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The write end of the self-pipe, and whether a signal came already. The handler touches only
// these two and calls only async-signal-safe functions.
volatile sig_atomic_t gWriteFd = -1;
volatile sig_atomic_t gSignalled = 0;

struct sigaction gPrevious[std::size(kSignals)];

extern "C" void OnTerminationSignal(int signalNumber) {
    if (gSignalled != 0) {
        // The orderly end is stuck or too slow for whoever asks twice: end now.
        ::signal(signalNumber, SIG_DFL);
        ::raise(signalNumber);
        return;
    }
    gSignalled = 1;
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(gWriteFd, &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalShutdown::SignalShutdown(QObject* parent) : QObject(parent) {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("zelvox: no pipe for signals (%s); SIGINT, SIGTERM and SIGHUP end it abruptly",
                 strerror(errno));
        return;
    }
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalShutdown::OnReadable);
    gSignalled = 0;
    gWriteFd = pipe_[1];
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &action, &gPrevious[i]);
}

SignalShutdown::~SignalShutdown() {
    if (pipe_[0] < 0)
        return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &gPrevious[i], nullptr);
    gWriteFd = -1;
    delete notifier_;
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void SignalShutdown::OnReadable() {
    unsigned char byte = 0;
    while (::read(pipe_[0], &byte, 1) == 1) {
        emit received(byte);
        // Modal dialogs and message boxes close too, so no nested event loop holds the end
        // back; quit() then leaves every event loop that is still running.
        QApplication::closeAllWindows();
        QApplication::quit();
    }
}

} // namespace zelvox
