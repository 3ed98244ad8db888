// The signals that ask a program to end (Ctrl+C, kill, a closed terminal...), caught the same way
// by the desktop program and the headless logger. The handler only does what is safe in a signal
// handler: it notes the signal, makes WakeFd() readable (an eventfd) so that any poll() waiting
// on it returns, and cancels the blocking read of the port named by CancelOnStop. With
// secondEndsAtOnce, a second such signal while the orderly end is under way ends the process at
// once, for the user who asks twice.
#pragma once

#include <csignal>
#include <initializer_list>

namespace zelvox {

class SerialPort;

class StopSignals {
public:
    // Catches the signals `caught` until destroyed. One at a time in a process.
    StopSignals(std::initializer_list<int> caught, bool secondEndsAtOnce);
    ~StopSignals(); // the previous handlers come back
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Readable from the first signal on (or RequestStop); -1 when no eventfd could be made.
    int WakeFd() const;
    // True once a signal came (or RequestStop was called).
    static bool Received();
    // The first signal's number; 0 before one, or after RequestStop alone.
    static int Signal();
    // Asks for the end as a signal would, from any thread (async-signal-safe).
    static void RequestStop();
    // The port whose blocking read a signal cancels; null for none. Set it from the thread that
    // reads; a signal that came before is seen by calling Received() after setting it.
    static void CancelOnStop(SerialPort* port);
};

} // namespace zelvox
