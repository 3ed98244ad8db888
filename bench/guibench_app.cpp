// Whole-program figures on a pseudo-terminal meter (offscreen platform):
//   - start-up time from creating the main window to the window shown;
//   - latency from a frame's last byte written into the pty to its segment pictures changed
//     and painted;
//   - process CPU while acquisition runs with a meter streaming at its own pace and the
//     dispatch at 120 readings per minute.
#include "ProcessCpu.h"
#include "app/MainWindow.h"
#include "decode/FrameEncoder.h"
#include "decode/FunctionCode.h"
#include "link/Settings.h"
#include "panes/ControlPanel.h"
#include "panes/ReadingsTable.h"
#include "session/MeterSession.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace zelvox;
using Clock = std::chrono::steady_clock;

namespace {

void WriteAll(int fd, const Frame& frame) {
    std::size_t done = 0;
    while (done < frame.size()) {
        const ssize_t n = write(fd, frame.data() + done, frame.size() - done);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int cpuSeconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;

    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios raw{};
    tcgetattr(master, &raw);
    cfmakeraw(&raw);
    tcsetattr(master, TCSANOW, &raw);

    Settings settings;
    settings.portName = QString::fromLocal8Bit(name);

    QElapsedTimer startup;
    startup.start();
    auto* frame = new MainWindow(settings);
    frame->show();
    if (!QTest::qWaitForWindowExposed(frame))
        return 1;
    std::printf("start-up: main window created and shown in %.1f ms\n", startup.nsecsElapsed() / 1e6);

    ControlPanel* panel = frame->PanelPane();
    panel->OnStart();
    if (!frame->Session().IsRunning()) {
        std::fprintf(stderr, "START failed on %s\n", name);
        return 1;
    }
    ::close(slave); // the acquisition has its own descriptor now

    // Latency: alternate two displays so that segments change with every frame.
    const Frame a = *EncodeReading("1.234", kDcVolt);
    const Frame b = *EncodeReading("5.678", kDcVolt);
    std::vector<double> latencies;
    bool mirrored = false;
    QObject::connect(&frame->Session(), &MeterSession::frameMirrored, [&] { mirrored = true; });
    for (int i = 0; i < 200; ++i) {
        const Frame& f = (i % 2) ? b : a;
        const auto t0 = Clock::now();
        mirrored = false;
        WriteAll(master, f);
        while (!mirrored) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            if (Clock::now() - t0 > std::chrono::seconds(2))
                break;
        }
        QCoreApplication::processEvents(); // the pictures' repaint
        latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        QTest::qWait(5);
    }
    std::printf("frame to segment pictures changed: median %.3f ms, p95 %.3f ms, max %.3f ms (%zu frames)\n",
                Percentile(latencies, 0.5), Percentile(latencies, 0.95), Percentile(latencies, 1.0),
                latencies.size());

    // CPU: a meter streaming frames at 2400 baud pace (20 bytes = 83 ms), values changing.
    std::atomic<bool> stop{false};
    std::thread meter([&] {
        int k = 0;
        while (!stop.load()) {
            char text[16];
            std::snprintf(text, sizeof text, "%d.%03d", (k / 10) % 6, (k * 37) % 1000);
            if (auto f = EncodeReading(text, 1))
                WriteAll(master, *f);
            ++k;
            std::this_thread::sleep_for(std::chrono::microseconds(83333));
        }
    });
    const double cpu0 = bench::ProcessCpuSeconds();
    const auto wall0 = Clock::now();
    QTest::qWait(cpuSeconds * 1000);
    const double cpu = bench::ProcessCpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    stop = true;
    meter.join();
    std::printf("CPU while running at 120 readings/min with a streaming meter: %.2f%% of one core "
                "(%.3f s CPU over %.1f s, %d table rows)\n",
                100.0 * cpu / wall, cpu, wall, frame->TablePane()->RowCount());

    panel->OnStop();
    delete frame;
    ::close(master);
    return 0;
}
