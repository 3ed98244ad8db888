// The alarm engine's cost per accepted frame with five rules (one of each kind of watch), beside
// the cost of decoding the frame itself: what checking every frame adds on the reader's thread.
// The benchmark's time per iteration is the time per frame.
#include "alarm/AlarmEngine.h"
#include "alarm/AlarmOutputs.h"
#include "decode/Decoder.h"
#include "decode/FrameEncoder.h"
#include "decode/FunctionCode.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace zelvox;

constexpr std::size_t kFrames = 1 << 16;

// Voltages around the rules' limits, now and then another function or an overload.
std::vector<Frame> MakeFrames() {
    std::mt19937 rng(7);
    const char* texts[] = {"4.100", "4.250", "3.700", "2.950", "4.190", "0L", "3.700", "4.160"};
    std::vector<Frame> frames;
    for (std::size_t i = 0; i < 256; ++i)
        frames.push_back(*EncodeReading(texts[rng() % 8], rng() % 32 == 0 ? kDcMillivolt : kDcVolt));
    return frames;
}

std::vector<AlarmRule> FiveRules() {
    std::vector<AlarmRule> rules;
    for (const char* text :
         {"high: above 4.2 V clear 4.15 V", "low: below 3 V for 2s", "band: outside 3..4.2 V",
          "quiet: silent for 5s", "stuck: unchanged for 1 min"}) {
        AlarmRule rule;
        ParseAlarmRule(text, rule, nullptr);
        rules.push_back(rule);
    }
    return rules;
}

void BM_DecodeFrame(benchmark::State& state) {
    const auto frames = MakeFrames();
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeFrame(frames[i++ % frames.size()]));
}
BENCHMARK(BM_DecodeFrame);

// Each frame 83 ms after the last, as the meter sends them; events counted by the sink. Arg 0:
// a steady reading (no event, the usual case); 1: readings that cross a limit at most frames.
void BM_AlarmEngineFiveRules(benchmark::State& state) {
    const auto frames = MakeFrames();
    std::vector<Reading> readings;
    for (const Frame& f : frames)
        readings.push_back(state.range(0) ? DecodeFrame(f) : Reading{3.7, 1, kDcVolt});
    std::int64_t events = 0;
    AlarmEngine engine(FiveRules(), [&](const AlarmEvent&) { ++events; });
    WallTime at = WallTimeAt(1796868727415, 3600);
    engine.Begin(at);
    std::int64_t index = 0;
    for (auto _ : state) {
        at.instant += std::chrono::milliseconds(83);
        engine.Frame(readings[static_cast<std::size_t>(index) % readings.size()], at, index);
        ++index;
    }
    state.counters["events/frame"] =
        benchmark::Counter(static_cast<double>(events) / static_cast<double>(index));
}
BENCHMARK(BM_AlarmEngineFiveRules)->Arg(0)->Arg(1);

// From the event handed to the command runner to the command's first action (it writes to a
// FIFO the benchmark reads): manual time, in microseconds.
void BM_CommandStarts(benchmark::State& state) {
    char dir[] = "/tmp/zelvox-bench-alarm-XXXXXX";
    if (!::mkdtemp(dir)) {
        state.SkipWithError("mkdtemp");
        return;
    }
    const std::string fifo = std::string(dir) + "/fifo";
    ::mkfifo(fifo.c_str(), 0600);
    const int fd = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC); // read-write: never at end of file
    AlarmCommand command("echo \"$ZELVOX_ALARM\" > " + fifo, "ttyUSB0", nullptr);
    command.Start();
    const AlarmRule rule = FiveRules()[0];
    AlarmEvent e;
    e.hasReading = true;
    e.reading = {4.25, 1, kDcVolt};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        command.Run(rule, e);
        char buf[64];
        if (::read(fd, buf, sizeof buf) <= 0)
            state.SkipWithError("read");
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    command.Stop();
    ::close(fd);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CommandStarts)->UseManualTime()->Iterations(50)->Unit(benchmark::kMicrosecond);

} // namespace
