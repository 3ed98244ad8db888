// The MQTT publisher's costs against a local mosquitto: a backlog of 1,000,000 journal rows
// delivered (readings per second, peak memory), then the CPU the publisher adds while a run
// appends a row every 500 ms (120 a minute).
//
//   mqttbench_publish [ROWS] [SECONDS_AT_120]      (defaults 1000000 and 30)
#include "publish/Publisher.h"
#include "record/JournalFolder.h"
#include "record/RowCodec.h"
#include "support/Broker.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace {

using namespace zelvox;
using Clock = std::chrono::steady_clock;

long RssKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void AppendRows(const std::string& path, int first, int n) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    if (first == 1)
        out << CsvHeader();
    const WallTime start = WallTimeNow();
    for (int i = first; i < first + n; ++i) {
        const Reading r{i * 0.001, 1, static_cast<std::uint8_t>(1 + i % 27)};
        const WallTime at = WallTimeAt(start.EpochMs() + i);
        out << CsvLine(MakeDispatchedReading(1, i, at, r));
    }
}

PublisherOptions Options(int port, const std::string& dir) {
    PublisherOptions o;
    ParseMqttUrl("mqtt://127.0.0.1:" + std::to_string(port) + "/bench", o.target, nullptr);
    o.clientId = "zelvox-bench";
    o.journalDir = dir;
    o.adoptUnmarked = true;
    return o;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 30;
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    QDir().mkpath(tmp.filePath(QStringLiteral("unpublished")));
    testing::Broker broker(tmp.path());
    std::string why;
    if (!broker.Start(&why)) {
        std::fprintf(stderr, "mqttbench_publish: %s\n", why.c_str());
        return 1;
    }

    // The backlog: one journal of `rows` rows no broker has seen.
    const std::string backlog = dir + "/2026-12-08T10-00-00.csv";
    AppendRows(backlog, 1, rows);
    const long rssBefore = RssKiB();
    {
        Publisher p(Options(broker.Port(), dir));
        const Clock::time_point start = Clock::now();
        const double cpu0 = CpuSeconds();
        if (!p.Start(&why)) {
            std::fprintf(stderr, "mqttbench_publish: %s\n", why.c_str());
            return 1;
        }
        long rssPeak = 0;
        while (p.Status().acknowledged < static_cast<std::uint64_t>(rows)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            rssPeak = std::max(rssPeak, RssKiB());
            if (Clock::now() - start > std::chrono::minutes(5)) {
                std::fprintf(stderr, "mqttbench_publish: backlog not delivered: %s\n",
                             DescribeStatus(p.Status()).c_str());
                return 1;
            }
        }
        const double s = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("backlog: %d rows delivered in %.2f s: %.0f readings/s, %.2f s of CPU\n", rows, s,
                    rows / s, CpuSeconds() - cpu0);
        std::printf("memory: %.1f MB resident before, %.1f MB at the peak while delivering\n",
                    rssBefore / 1024.0, rssPeak / 1024.0);
    }

    // A live run at 120 a minute: the same rows written without and then with a publisher
    // sending them; the difference is what publishing adds.
    const auto run = [&](const std::string& path, Publisher* p) {
        const double cpu0 = CpuSeconds();
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < seconds * 2; ++i) {
            AppendRows(path, i + 1, 1);
            if (p)
                p->Appended(path);
            std::this_thread::sleep_until(start + std::chrono::milliseconds(500 * (i + 1)));
        }
        return 100.0 * (CpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - start).count();
    };
    const double alone = run(dir + "/unpublished/2026-12-08T11-00-00.csv", nullptr);
    const std::string live = dir + "/2026-12-08T12-00-00.csv";
    Publisher p(Options(broker.Port(), dir));
    if (!p.Start(&why))
        return 1;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double published = run(live, &p);
    std::printf("120/min for %d s: %.4f %% of a core writing the rows, %.4f %% writing and publishing them: "
                "publishing adds %.4f %%\n",
                seconds, alone, published, published - alone);
    p.Stop();
    return JournalHasUnsentTail(live) ? 1 : 0;
}
