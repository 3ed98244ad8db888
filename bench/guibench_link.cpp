// Serial link figures on pseudo-terminals, printed:
//  - process CPU and wake-ups per second of each thread while acquisition runs on a silent line,
//    a meter writing whole frames and one writing a byte at a time at line speed (10 s each);
//  - latency from a frame's last byte written into the pty to its hand-off on the UI thread;
//  - how far apart dispatched rows are at 120/min with a frame every 300 ms and every 50 ms;
//  - how long STOP takes at 1 reading per minute and at 120 while streaming.
// Usage: guibench_link [seconds per CPU run, default 10]
#include "ProcessCpu.h"
#include "decode/Decoder.h"
#include "decode/FrameEncoder.h"
#include "decode/FunctionCode.h"
#include "link/Acquisition.h"
#include "link/RowGaps.h"
#include "sim/SimulatedMeter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace zelvox;
using Clock = std::chrono::steady_clock;

void RunEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool RunUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        RunEventLoop(1);
    return done();
}

// Dispatch as the control panel does: take the reading, clear the pending mark.
void ServeDispatches(Acquisition& acq, ReadingHistory& history) {
    QObject::connect(&acq, &Acquisition::dispatchRequested, &acq, [&] {
        (void)acq.CurrentReading();
        history.readingPending.store(0);
    });
}

struct ThreadCost {
    long long switches = 0; // voluntary context switches: how often it went to sleep and woke
    long long cpuNs = 0;    // time on a CPU
};

// The cost so far of each of this process's threads, by thread name.
std::map<std::string, ThreadCost> ThreadCosts() {
    std::map<std::string, ThreadCost> out;
    QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        QFile status(tasks.filePath(tid + QStringLiteral("/status")));
        QFile schedstat(tasks.filePath(tid + QStringLiteral("/schedstat")));
        if (!comm.open(QIODevice::ReadOnly) || !status.open(QIODevice::ReadOnly) ||
            !schedstat.open(QIODevice::ReadOnly))
            continue;
        ThreadCost& cost = out[comm.readAll().trimmed().toStdString()];
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                cost.switches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        cost.cpuNs += schedstat.readAll().split(' ').value(0).toLongLong();
    }
    return out;
}

enum class Line { Silent, WholeFrames, Bytewise };

void CpuRun(const char* what, int seconds, Line line) {
    ReadingHistory history;
    Acquisition acq(history);
    ServeDispatches(acq, history);
    long long frames = 0;
    QObject::connect(&acq, &Acquisition::frameAccepted, &acq, [&](const Frame&) { ++frames; });
    SimulatedMeterOptions options;
    options.waitForListener = true;
    options.bytewise = line == Line::Bytewise;
    SimulatedMeter meter(options);
    testing::Pty silent;
    QString port = silent.SlavePath();
    if (line != Line::Silent) {
        if (!meter.Start()) {
            std::fprintf(stderr, "meter did not start\n");
            std::exit(1);
        }
        port = meter.SlavePath();
    }
    if (acq.StartAcquisition(port, 120).status != Acquisition::StartStatus::Started) {
        std::fprintf(stderr, "START failed\n");
        std::exit(1);
    }
    RunEventLoop(300); // settle
    frames = 0;
    const long long sent0 = meter.FramesSent();
    const auto costs0 = ThreadCosts();
    const double cpu0 = bench::ProcessCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    RunEventLoop(seconds * 1000);
    const double cpu = bench::ProcessCpuSeconds() - cpu0;
    const auto costs1 = ThreadCosts();
    const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
    const long long sent = meter.FramesSent() - sent0;
    acq.StopAcquisition();
    meter.Stop();
    std::printf(
        "CPU, %-34s %6.3f%% of one core (%.3f s CPU in %.1f s; %lld frames sent, %lld handed to the UI%s)\n",
        what, 100.0 * cpu / elapsed, cpu, elapsed, sent, frames,
        line != Line::Silent ? "; simulated meter's writer thread included" : "");
    std::printf("     per thread, wake-ups/s and CPU:");
    for (const char* thread : {"guibench_link", "zelvox-reader", "zelvox-sampler", "zelvox-meter"}) {
        const auto before = costs0.find(thread);
        const auto after = costs1.find(thread);
        if (before == costs0.end() || after == costs1.end())
            continue;
        std::printf("  %s %.1f/s %.3f%%", std::strcmp(thread, "guibench_link") == 0 ? "UI" : thread,
                    static_cast<double>(after->second.switches - before->second.switches) / elapsed,
                    static_cast<double>(after->second.cpuNs - before->second.cpuNs) / 1e7 / elapsed);
    }
    std::printf("\n");
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const std::size_t i =
        std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
    return v[i];
}

void LatencyRun(int count) {
    ReadingHistory history;
    Acquisition acq(history);
    ServeDispatches(acq, history);
    testing::Pty pty;
    std::vector<Clock::time_point> written(static_cast<std::size_t>(count));
    std::vector<double> latencyMs;
    std::mutex mutex;
    QObject::connect(&acq, &Acquisition::frameAccepted, &acq, [&](const Frame& f) {
        const Clock::time_point now = Clock::now();
        const int n = static_cast<int>(DecodeFrame(f).value);
        std::lock_guard<std::mutex> lock(mutex);
        if (n >= 0 && n < count)
            latencyMs.push_back(
                std::chrono::duration<double, std::milli>(now - written[static_cast<std::size_t>(n)])
                    .count());
    });
    if (acq.StartAcquisition(pty.SlavePath(), 120).status != Acquisition::StartStatus::Started) {
        std::fprintf(stderr, "START failed\n");
        std::exit(1);
    }
    std::vector<Frame> frames;
    for (int n = 0; n < count; ++n)
        frames.push_back(*EncodeReading(std::to_string(n), 1));
    std::thread meter([&] {
        for (int n = 0; n < count; ++n) {
            {
                // Taken before the write, which lasts microseconds: the reader may hand the
                // frame over before this thread would get to take the time after it.
                std::lock_guard<std::mutex> lock(mutex);
                written[static_cast<std::size_t>(n)] = Clock::now();
            }
            pty.Write(frames[static_cast<std::size_t>(n)]);
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    });
    RunUntil(
        [&] {
            std::lock_guard<std::mutex> lock(mutex);
            return latencyMs.size() >= static_cast<std::size_t>(count);
        },
        count * 25 + 5000);
    meter.join();
    acq.StopAcquisition();
    std::lock_guard<std::mutex> lock(mutex);
    if (latencyMs.empty()) {
        std::printf("latency: no frames\n");
        return;
    }
    std::printf("Latency, last byte into the pty -> frame on the UI thread, %zu frames: median %.3f ms, "
                "p95 %.3f ms, max %.3f ms\n",
                latencyMs.size(), Percentile(latencyMs, 0.5), Percentile(latencyMs, 0.95),
                *std::max_element(latencyMs.begin(), latencyMs.end()));
}

// Rows at 120 per minute as the control panel makes them while a meter sends a frame every
// frameEveryMs.
void RowSpacingRun(int frameEveryMs, int seconds) {
    ReadingHistory history;
    Acquisition acq(history);
    testing::Pty pty;
    if (!pty.ok() || acq.StartAcquisition(pty.SlavePath(), 120).status != Acquisition::StartStatus::Started) {
        std::fprintf(stderr, "START failed\n");
        std::exit(1);
    }
    // Far more rows than can come: the run ends when the time is up.
    const std::vector<double> gaps =
        testing::RowGaps(acq, history, pty, frameEveryMs, 1 << 20, seconds * 1000);
    acq.StopAcquisition();
    if (gaps.empty()) {
        std::printf("Rows: none\n");
        return;
    }
    double sum = 0;
    for (double g : gaps)
        sum += g;
    std::printf(
        "Rows at 120/min, a frame every %3d ms, %d s: %zu rows (%.1f a minute), spacing mean %.1f ms, "
        "min %.1f ms, max %.1f ms\n",
        frameEveryMs, seconds, gaps.size() + 1, 60000.0 * static_cast<double>(gaps.size()) / sum,
        sum / static_cast<double>(gaps.size()), *std::min_element(gaps.begin(), gaps.end()),
        *std::max_element(gaps.begin(), gaps.end()));
}

void StopRun(const char* what, int rate, bool streaming, int repeats) {
    std::vector<double> stopMs;
    for (int i = 0; i < repeats; ++i) {
        ReadingHistory history;
        Acquisition acq(history);
        ServeDispatches(acq, history);
        int frames = 0;
        QObject::connect(&acq, &Acquisition::frameAccepted, &acq, [&](const Frame&) { ++frames; });
        SimulatedMeterOptions options;
        options.waitForListener = true;
        SimulatedMeter meter(options);
        testing::Pty pty;
        QString port = pty.SlavePath();
        if (streaming && meter.Start())
            port = meter.SlavePath();
        if (acq.StartAcquisition(port, rate).status != Acquisition::StartStatus::Started) {
            std::fprintf(stderr, "START failed\n");
            std::exit(1);
        }
        if (!streaming)
            pty.Write(*EncodeReading("1.000", kDcVolt));
        RunUntil([&] { return frames > 0; }, 3000);
        RunEventLoop(streaming ? 700 : 30); // sampling thread inside its period
        const Clock::time_point t0 = Clock::now();
        acq.StopAcquisition();
        stopMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        meter.Stop();
    }
    std::printf("STOP, %-38s median %.3f ms, max %.3f ms over %d runs\n", what, Percentile(stopMs, 0.5),
                *std::max_element(stopMs.begin(), stopMs.end()), repeats);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    CpuRun("silent line:", seconds, Line::Silent);
    CpuRun("streaming meter (12 frames/s):", seconds, Line::WholeFrames);
    CpuRun("byte-at-a-time meter at 2400 baud:", seconds, Line::Bytewise);
    LatencyRun(400);
    RowSpacingRun(300, 16);
    RowSpacingRun(50, 16);
    StopRun("rate 1/min, reading pending:", 1, false, 20);
    StopRun("rate 120/min, streaming meter:", 120, true, 10);
    return 0;
}
