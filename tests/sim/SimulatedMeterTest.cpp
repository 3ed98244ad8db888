// The demo scenario, the displays file and the simulated meter on a pseudo-terminal.
#include "sim/SimulatedMeter.h"
#include "decode/Decoder.h"
#include "decode/FrameEncoder.h"
#include "decode/FunctionCode.h"
#include "link/SerialPort.h"
#include "sim/DemoScenario.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <numeric>
#include <set>

namespace zelvox {
namespace {

TEST(DemoScenario, MinutesPerFunctionOfSlowDriftWithNoiseSpikesAndOneOverload) {
    std::vector<Frame> frames;
    QString error;
    const std::vector<ScenarioStep> steps = DemoScenario(1);
    ASSERT_TRUE(ScenarioFrames(steps, &frames, &error)) << error.toStdString();
    // Every display decodes to its text; the values of each function in order, and the overloads.
    std::vector<std::pair<int, std::vector<double>>> runs;
    std::map<int, long long> framesOf;
    int overloads = 0;
    std::size_t at = 0;
    for (const ScenarioStep& step : steps) {
        ASSERT_GE(step.frames, 1);
        const Frame& frame = frames[at];
        at += static_cast<std::size_t>(step.frames);
        ASSERT_TRUE(CheckFrame(frame)) << step.text;
        const Reading r = DecodeFrame(frame);
        EXPECT_EQ(r.functionCode, step.functionCode) << step.text;
        framesOf[r.functionCode] += step.frames;
        if (runs.empty() || runs.back().first != r.functionCode)
            runs.push_back({r.functionCode, {}});
        if (IsOverload(r.value)) {
            ++overloads;
            continue;
        }
        EXPECT_DOUBLE_EQ(r.value, std::strtod(step.text.c_str(), nullptr)) << step.text;
        runs.back().second.push_back(r.value);
    }
    EXPECT_EQ(at, frames.size());
    EXPECT_EQ(overloads, 1);

    const struct {
        int functionCode;
        double drift; // from the first minute's mean to the last minute's, at least (0: none)
        double step;  // the largest change between two displays but for the spikes
    } expected[] = {{kDcVolt, 0.8, 0.1}, {kKiloOhm, -0.8, 0.1}, {kAcVolt, 0.0, 5.0}};
    ASSERT_EQ(runs.size(), std::size(expected));
    constexpr long long kFramesPerMinute = 60 * 2400 / 200; // 20 bytes of 10 bits each
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const auto& [code, values] = runs[i];
        SCOPED_TRACE(code);
        EXPECT_EQ(code, expected[i].functionCode);
        EXPECT_GE(framesOf[code], 2 * kFramesPerMinute) << "a few minutes per function";
        const std::size_t minute = values.size() / 3;
        const auto mean = [&](std::size_t from) {
            return std::accumulate(values.begin() + static_cast<std::ptrdiff_t>(from),
                                   values.begin() + static_cast<std::ptrdiff_t>(from + minute), 0.0) /
                   static_cast<double>(minute);
        };
        const double drifted = mean(values.size() - minute) - mean(0);
        EXPECT_GE(drifted * expected[i].drift, expected[i].drift * expected[i].drift) << "the value drifts";
        int jumps = 0;
        std::set<double> distinct(values.begin(), values.end());
        for (std::size_t k = 1; k < values.size(); ++k)
            jumps += std::abs(values[k] - values[k - 1]) > expected[i].step ? 1 : 0;
        EXPECT_GE(jumps, 2) << "no spike";
        EXPECT_LE(jumps, 12) << "more than an occasional spike";
        EXPECT_GT(distinct.size(), 20u) << "no noise";
    }
    // The same seed gives the same scenario; another seed other values.
    std::vector<Frame> again, other;
    ASSERT_TRUE(ScenarioFrames(DemoScenario(1), &again, &error));
    ASSERT_TRUE(ScenarioFrames(DemoScenario(2), &other, &error));
    EXPECT_EQ(frames, again);
    EXPECT_NE(frames, other);
}

TEST(DisplayText, FourDigitsAtMostElseOverload) {
    const struct {
        double value;
        int decimals;
        const char* text;
    } cases[] = {
        {1.5, 3, "1.500"},   {-0.504, 2, "-0.50"}, {21.04, 1, "21.0"},
        {9999.4, 0, "9999"}, {12345.0, 0, "OL"},   {99.996, 2, "OL"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DisplayText(c.value, c.decimals), c.text) << c.value;
}

TEST(ParseDisplays, ReadsCodeTextAndFrames) {
    std::vector<ScenarioStep> steps;
    QString error;
    ASSERT_TRUE(
        ParseDisplays(QStringLiteral("# a comment\n\n1 1.234 3\n  23   -5.0\n12 OL 2\n"), &steps, &error))
        << error.toStdString();
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].text, "1.234");
    EXPECT_EQ(steps[0].functionCode, 1);
    EXPECT_EQ(steps[0].frames, 3);
    EXPECT_EQ(steps[1].text, "-5.0");
    EXPECT_EQ(steps[1].functionCode, 23);
    EXPECT_EQ(steps[1].frames, 1);
    std::vector<Frame> frames;
    ASSERT_TRUE(ScenarioFrames(steps, &frames, &error));
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(frames[3], *EncodeReading("-5.0", kCelsius));
}

TEST(ParseDisplays, RejectsWhatItCannotPlay) {
    const struct {
        const char* content;
        const char* errorPart;
    } cases[] = {
        {"1 1.0\nx 2.0\n", "line 2"}, {"1\n", "line 1"},         {"28 1.0\n", "line 1"},
        {"1 1.0 0\n", "line 1"},      {"1 1.0 2 3\n", "line 1"}, {"# only a comment\n", "no displays"},
    };
    for (const auto& c : cases) {
        std::vector<ScenarioStep> steps;
        QString error;
        EXPECT_FALSE(ParseDisplays(QLatin1String(c.content), &steps, &error)) << c.content;
        EXPECT_TRUE(error.contains(QLatin1String(c.errorPart))) << error.toStdString();
    }
    std::vector<ScenarioStep> steps{{"12345", 1, 1}};
    std::vector<Frame> frames;
    QString error;
    EXPECT_FALSE(ScenarioFrames(steps, &frames, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("12345")));
}

// Reads accepted frames from the meter's port until `count` frames or `ms` have passed.
std::vector<Frame> Collect(SerialPort& port, std::size_t count, int ms) {
    std::vector<Frame> frames;
    Framer framer;
    port.SetTimeouts({50, 50, 1});
    QElapsedTimer timer;
    timer.start();
    while (frames.size() < count && timer.elapsed() < ms) {
        std::uint8_t buffer[kFrameSize];
        const ReadResult r = port.Read(buffer, framer.BytesWanted());
        framer.Feed(buffer, r.count, [&](const Frame& f) { frames.push_back(f); });
    }
    return frames;
}

TEST(SimulatedMeter, StreamsTheScenarioAtTheMetersPace) {
    SimulatedMeterOptions options;
    options.waitForListener = true;
    SimulatedMeter meter(options);
    QString error;
    ASSERT_TRUE(meter.Start(&error)) << error.toStdString();
    EXPECT_TRUE(meter.SlavePath().startsWith(QStringLiteral("/dev/pts/")));
    EXPECT_TRUE(meter.Running());
    auto port = CreateSerialPort();
    ASSERT_TRUE(port->Open(meter.SlavePath(), nullptr));
    const std::vector<Frame> frames = Collect(*port, 1000, 1000);
    // 20 bytes at 2400 baud 8N1 take 83.3 ms: 12 frames a second.
    EXPECT_GE(frames.size(), 9u);
    EXPECT_LE(frames.size(), 14u);
    for (std::size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(frames[i], meter.Scenario()[i]) << i;
    meter.Stop();
    EXPECT_FALSE(meter.Running());
}

TEST(SimulatedMeter, StrayBytesAndDamagedFramesCostOnlyTheDamagedFrames) {
    SimulatedMeterOptions options;
    options.waitForListener = true;
    options.strayEvery = 3;
    options.corruptEvery = 4;
    options.frameLimit = 40;
    options.pace = 8;
    SimulatedMeter meter(options);
    ASSERT_TRUE(meter.Start());
    auto port = CreateSerialPort();
    ASSERT_TRUE(port->Open(meter.SlavePath(), nullptr));
    std::vector<Frame> expected;
    for (std::size_t i = 0; i < 40; ++i)
        if (i % 4 != 3)
            expected.push_back(meter.Scenario()[i]);
    const std::vector<Frame> frames = Collect(*port, expected.size(), 3000);
    meter.WaitFinished();
    EXPECT_EQ(meter.FramesSent(), 40);
    EXPECT_EQ(frames, expected);
    EXPECT_TRUE(Collect(*port, 1, 200).empty());
}

TEST(SimulatedMeter, PlaysADisplaysFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("displays.txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("27 1.250 2\n12 OL\n");
    file.close();
    SimulatedMeterOptions options;
    options.displaysFile = path;
    options.waitForListener = true;
    SimulatedMeter meter(options);
    ASSERT_TRUE(meter.Start());
    const std::vector<Frame> expected{*EncodeReading("1.250", kKiloRpm), *EncodeReading("1.250", kKiloRpm),
                                      *EncodeReading("OL", kKiloOhm)};
    EXPECT_EQ(meter.Scenario(), expected);
    auto port = CreateSerialPort();
    ASSERT_TRUE(port->Open(meter.SlavePath(), nullptr));
    const std::vector<Frame> frames = Collect(*port, 4, 2000);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[3], expected[0]) << "the displays loop";

    options.displaysFile = dir.filePath(QStringLiteral("missing.txt"));
    SimulatedMeter broken(options);
    QString error;
    EXPECT_FALSE(broken.Start(&error));
    EXPECT_TRUE(error.contains(QStringLiteral("missing.txt")));
}

TEST(SimulatedMeter, LinkFollowsTheSlaveAndStopIsPrompt) {
    QTemporaryDir dir;
    SimulatedMeterOptions options;
    options.linkPath = dir.filePath(QStringLiteral("zelvox-meter"));
    options.pace = 0.001; // a frame every 83 s: Stop must not wait for the next one
    SimulatedMeter meter(options);
    ASSERT_TRUE(meter.Start());
    EXPECT_EQ(QFileInfo(options.linkPath).symLinkTarget(), meter.SlavePath());
    QElapsedTimer timer;
    timer.start();
    meter.Stop();
    EXPECT_LT(timer.elapsed(), 300);
    EXPECT_FALSE(QFileInfo(options.linkPath).isSymLink());

    // A stale link is replaced; a regular file is never overwritten.
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), options.linkPath));
    SimulatedMeter again(options);
    ASSERT_TRUE(again.Start());
    EXPECT_EQ(QFileInfo(options.linkPath).symLinkTarget(), again.SlavePath());
    again.Stop();
    QFile plain(options.linkPath);
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    SimulatedMeter blocked(options);
    QString error;
    EXPECT_FALSE(blocked.Start(&error));
    EXPECT_TRUE(QFileInfo(options.linkPath).isFile());
}

} // namespace
} // namespace zelvox
