// zelvox-sim: a simulated Zelvox meter on a pseudo-terminal. Prints the slave's path, then
// streams frames at the meter's pace until interrupted (or until --frames are sent).
#include "decode/StandardStreams.h"
#include "sim/SimulatedMeter.h"

#include <QString>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

void Usage(std::FILE* out) {
    std::fputs("Usage: zelvox-sim [options]\n"
               "Creates a pseudo-terminal, prints the path of its serial side (/dev/pts/N) on one\n"
               "line and streams meter frames into it at 2400 baud 8N1 until SIGINT, SIGTERM,\n"
               "SIGHUP or SIGQUIT, which end it cleanly (status 0, the --link removed).\n\n"
               "Options:\n"
               "  --link PATH       also make PATH a symbolic link to the port while running\n"
               "  --displays FILE   play the displays in FILE instead of the demo; one per line:\n"
               "                    <function code 0..27> <display> [frames], e.g. \"1 -1.234 12\"\n"
               "  --stray N         send 1 to 8 stray bytes before every N-th frame\n"
               "  --corrupt N       damage every N-th frame (bad checksum or bad nibble)\n"
               "  --frames N        stop after N frames\n"
               "  --wait            hold the first frame until a program opens the port\n"
               "  --pace F          line speed factor (2: twice as fast as the meter)\n"
               "  --bytewise        write one byte at a time at the line's pace, as a UART does\n"
               "  --seed N          seed of the demo values and the noise\n"
               "  --help            show this text\n",
               out);
}

bool ParseNumber(const char* text, long long min, long long* value) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < min)
        return false;
    *value = v;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    zelvox::OpenStandardStreams();
    zelvox::SimulatedMeterOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        long long number = 0;
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else if (arg == "--bytewise") {
            options.bytewise = true;
        } else if (arg == "--wait") {
            options.waitForListener = true;
        } else if (arg == "--link" && hasValue) {
            options.linkPath = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == "--displays" && hasValue) {
            options.displaysFile = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == "--stray" && hasValue && ParseNumber(argv[i + 1], 0, &number)) {
            options.strayEvery = static_cast<int>(number);
            ++i;
        } else if (arg == "--corrupt" && hasValue && ParseNumber(argv[i + 1], 0, &number)) {
            options.corruptEvery = static_cast<int>(number);
            ++i;
        } else if (arg == "--frames" && hasValue && ParseNumber(argv[i + 1], 1, &number)) {
            options.frameLimit = number;
            ++i;
        } else if (arg == "--seed" && hasValue && ParseNumber(argv[i + 1], 0, &number)) {
            options.seed = static_cast<unsigned>(number);
            ++i;
        } else if (arg == "--pace" && hasValue && std::strtod(argv[i + 1], nullptr) > 0) {
            options.pace = std::strtod(argv[++i], nullptr);
        } else {
            std::fprintf(stderr, "zelvox-sim: bad argument: %s\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }

    // Signals are taken by sigwait in this thread only; the meter's writer inherits the mask.
    // SIGUSR1 is how the writer's end (after --frames) reaches the wait below.
    sigset_t waitSet;
    sigemptyset(&waitSet);
    sigaddset(&waitSet, SIGINT);
    sigaddset(&waitSet, SIGTERM);
    sigaddset(&waitSet, SIGHUP);
    sigaddset(&waitSet, SIGQUIT);
    sigaddset(&waitSet, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &waitSet, nullptr);

    zelvox::SimulatedMeter meter(options);
    QString error;
    if (!meter.Start(&error)) {
        std::fprintf(stderr, "zelvox-sim: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    std::printf("%s\n", meter.SlavePath().toLocal8Bit().constData());
    std::fflush(stdout);

    std::thread finisher([&meter] {
        meter.WaitFinished();
        kill(getpid(), SIGUSR1);
    });
    int received = 0;
    sigwait(&waitSet, &received);
    meter.Stop();
    finisher.join();
    return 0;
}
