#include "link/StopSignals.h"

#include "link/SerialPort.h"

#include <array>
#include <cerrno>
#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace zelvox {

namespace {

constexpr std::size_t kMaxSignals = 8;

// What the handler touches: plain flags, the eventfd and the port, nothing else.
volatile std::sig_atomic_t gReceived = 0;
volatile std::sig_atomic_t gSignal = 0;
volatile std::sig_atomic_t gSecondEndsAtOnce = 0;
int gWakeFd = -1;
SerialPort* volatile gPort = nullptr;

std::array<int, kMaxSignals> gCaught{};
std::array<struct sigaction, kMaxSignals> gPrevious{};
std::size_t gCount = 0;

void Wake() {
    if (SerialPort* port = gPort)
        port->Cancel(); // writes the port's own eventfd
    if (gWakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(gWakeFd, &one, sizeof one);
    }
}

extern "C" void OnStopSignal(int signalNumber) {
    const int savedErrno = errno;
    if (gReceived != 0 && gSignal != 0 && gSecondEndsAtOnce != 0) {
        // The orderly end is stuck or too slow for whoever asks twice: end now.
        ::signal(signalNumber, SIG_DFL);
        ::raise(signalNumber);
        return;
    }
    if (gSignal == 0)
        gSignal = signalNumber;
    gReceived = 1;
    Wake();
    errno = savedErrno;
}

} // namespace

StopSignals::StopSignals(std::initializer_list<int> caught, bool secondEndsAtOnce) {
    gReceived = 0;
    gSignal = 0;
    gSecondEndsAtOnce = secondEndsAtOnce ? 1 : 0;
    gWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    gCount = 0;
    for (int sig : caught) {
        if (gCount == kMaxSignals)
            break;
        gCaught[gCount] = sig;
        ::sigaction(sig, &action, &gPrevious[gCount]);
        ++gCount;
    }
}

StopSignals::~StopSignals() {
    // After a stop signal the process is ending: the same signal often comes again (timeout(1)
    // and service managers signal the process and then its whole group), and with the previous
    // (default) action back it would kill the process between here and its exit, turning an
    // orderly end into a death by signal. Such repeats are ignored from now on.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    const bool ending = gSignal != 0;
    for (std::size_t i = 0; i < gCount; ++i)
        ::sigaction(gCaught[i], ending ? &ignore : &gPrevious[i], nullptr);
    gCount = 0;
    gPort = nullptr;
    const int fd = gWakeFd;
    gWakeFd = -1;
    if (fd >= 0)
        ::close(fd);
}

int StopSignals::WakeFd() const {
    return gWakeFd;
}

bool StopSignals::Received() {
    return gReceived != 0;
}

int StopSignals::Signal() {
    return gSignal;
}

void StopSignals::RequestStop() {
    gReceived = 1;
    Wake();
}

void StopSignals::CancelOnStop(SerialPort* port) {
    gPort = port;
}

} // namespace zelvox
