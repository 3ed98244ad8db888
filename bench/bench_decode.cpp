// Throughput of the decoding core: the receiver over a long stream, frame decoding and the
// segment change list.
#include "decode/Decoder.h"
#include "decode/Frame.h"
#include "decode/FrameEncoder.h"
#include "decode/FunctionCode.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

using namespace zelvox;

// A mixed stream: mostly good frames, with noise and corrupted frames in between.
std::vector<std::uint8_t> MakeStream(std::size_t frames, std::size_t* good) {
    std::mt19937 rng(42);
    const char* texts[] = {"1.234", "-0.001", "9999", "0L", "12.5", "-3.3", " 7", "88.88"};
    std::vector<std::uint8_t> s;
    s.reserve(frames * 22);
    *good = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        Frame f = *EncodeReading(texts[rng() % 8], static_cast<int>(rng() % 28));
        if (rng() % 16 == 0)
            f[1 + rng() % 18] ^= 0x40; // corrupted
        else
            ++*good;
        s.insert(s.end(), f.begin(), f.end());
        if (rng() % 8 == 0)
            s.push_back(static_cast<std::uint8_t>(rng() & 0x7F)); // a stray byte
    }
    return s;
}

void BM_Receiver(benchmark::State& state) {
    std::size_t good = 0;
    const auto stream = MakeStream(100000, &good);
    const std::size_t chunk = static_cast<std::size_t>(state.range(0));
    std::size_t accepted = 0;
    for (auto _ : state) {
        Framer framer;
        accepted = 0;
        for (std::size_t pos = 0; pos < stream.size(); pos += chunk) {
            const std::size_t n = std::min(chunk, stream.size() - pos);
            accepted +=
                framer.Feed(stream.data() + pos, n, [](const Frame& f) { benchmark::DoNotOptimize(&f); });
        }
        benchmark::DoNotOptimize(accepted);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * accepted));
    state.counters["accepted"] = static_cast<double>(accepted);
}
BENCHMARK(BM_Receiver)->Arg(1)->Arg(20)->Arg(4096)->Unit(benchmark::kMillisecond);

std::vector<Frame> MakeFrames() {
    std::mt19937 rng(3);
    std::vector<Frame> frames;
    const char* texts[] = {"1.234", "-0.001", "9999", "0L", "12.5", "-3.3", " 7", "88.88", "1L23", "8.8.8.8"};
    for (int i = 0; i < 4096; ++i)
        frames.push_back(*EncodeReading(texts[rng() % 10], static_cast<int>(rng() % 28)));
    return frames;
}

void BM_DecodeFrame(benchmark::State& state) {
    const auto frames = MakeFrames();
    std::size_t i = 0;
    for (auto _ : state) {
        const Reading r = DecodeFrame(frames[i++ & 4095]);
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFrameSize));
}
BENCHMARK(BM_DecodeFrame);

// Successive frames of a changing display: each differs from the last in several bits.
void BM_SegmentMirror(benchmark::State& state) {
    const auto frames = MakeFrames();
    Frame mirrored{};
    std::vector<SegmentChange> changes;
    changes.reserve(72);
    std::size_t i = 0, total = 0;
    for (auto _ : state) {
        changes.clear();
        UpdateSegmentMirror(frames[i++ & 4095], mirrored, changes);
        total += changes.size();
        benchmark::DoNotOptimize(changes.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.counters["changes/frame"] = static_cast<double>(total) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_SegmentMirror);

// A steady display: no changes at all.
void BM_SegmentMirrorSteady(benchmark::State& state) {
    const Frame f = *EncodeReading("1.234", kDcVolt);
    Frame mirrored = f;
    std::vector<SegmentChange> changes;
    for (auto _ : state) {
        changes.clear();
        UpdateSegmentMirror(f, mirrored, changes);
        benchmark::DoNotOptimize(changes.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_SegmentMirrorSteady);

} // namespace
