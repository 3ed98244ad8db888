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
    ASSERT_TRUE(ScenarioFrames(DemoScenario(1), &frames, &error)) << error.toStdString();
    // The readings of each function in turn (every frame: 12 a second), and the overloads.
    std::vector<std::pair<int, std::vector<double>>> runs;
    int overloads = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ASSERT_TRUE(CheckFrame(frames[i]));
        const Reading r = DecodeFrame(frames[i]);
        if (runs.empty() || runs.back().first != r.functionCode)
            runs.push_back({r.functionCode, {}});
        overloads += IsOverload(r.value) && (i == 0 || !IsOverload(DecodeFrame(frames[i - 1]).value));
        if (!IsOverload(r.value))
            runs.back().second.push_back(r.value);
    }
    EXPECT_EQ(overloads, 1);
    // Function, drift from the first minute's mean to the last one's (0: none), largest step
    // between two displays but for a spike.
    const std::tuple<int, double, double> expected[] = {
        {kDcVolt, 0.8, 0.1}, {kKiloOhm, -0.8, 0.1}, {kAcVolt, 0, 5}};
    ASSERT_EQ(runs.size(), std::size(expected));
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const auto& [code, values] = runs[i];
        const auto [function, drift, step] = expected[i];
        SCOPED_TRACE(code);
        EXPECT_EQ(code, function);
        const std::ptrdiff_t minute = 12 * 60;
        EXPECT_GE(values.size(), 2u * minute) << "a few minutes per function";
        const double drifted = (std::accumulate(values.end() - minute, values.end(), 0.0) -
                                std::accumulate(values.begin(), values.begin() + minute, 0.0)) /
                               minute;
        EXPECT_GE(drifted * drift, drift * drift);
        int spikes = 0;
        for (std::size_t k = 1; k < values.size(); ++k)
            spikes += std::abs(values[k] - values[k - 1]) > step;
        EXPECT_GE(spikes, 2);
        EXPECT_LE(spikes, 12) << "more than an occasional spike";
        EXPECT_GT(std::set<double>(values.begin(), values.end()).size(), 20u) << "no noise";
    }
    std::vector<Frame> again, other;
    ASSERT_TRUE(ScenarioFrames(DemoScenario(1), &again, &error) &&
                ScenarioFrames(DemoScenario(2), &other, &error));
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
