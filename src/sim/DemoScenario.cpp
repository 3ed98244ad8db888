#include "sim/DemoScenario.h"

#include "decode/FrameEncoder.h"
#include "decode/FunctionCode.h"

#include <QFile>
#include <QStringList>
#include <cmath>
#include <cstdio>

namespace zelvox {

namespace {

// A display is refreshed a few times a second; the meter repeats it in every frame between.
constexpr int kFramesPerDisplay = 5;
// About 83 ms a frame at 2400 baud: 144 displays a minute.
constexpr int kDisplaysPerMinute = 144;

// Small deterministic generator (xorshift32), the same sequence on every platform.
class Noise {
public:
    explicit Noise(unsigned seed) : state_(seed == 0 ? 0x9E3779B9u : seed) {}
    // Uniform in [-1, 1].
    double Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<double>(state_ % 20001u) / 10000.0 - 1.0;
    }

private:
    std::uint32_t state_;
};

constexpr double kTwoPi = 6.283185307179586;

// One measurement of the demo: a value that drifts slowly over the minutes it lasts, with a
// little noise, the occasional spike, and maybe a moment of overload.
struct Measurement {
    int functionCode;
    int decimals;
    int minutes;
    double (*drift)(double t); // the value at t, 0..1 of the measurement's time
    double jitter;             // plus noise of this size
    double spike;              // a spike of this size, a few times over the measurement
    double overloadAt;         // the probes lifted off for a few seconds at t (negative: never)
};

// A lithium cell on its charger, from empty (2.5 V) towards full (4.2 V): a quick rise, then a
// slow approach. Large enough on the 6 V range for the graph to show the trend at once.
double ChargingCell(double t) {
    return 2.500 + 1.700 * (1.0 - std::exp(-3.0 * t));
}

// A 4.7 kOhm thermistor (NTC) warming up in the hand: its resistance falls.
double WarmingResistor(double t) {
    return 4.700 - 1.800 * (1.0 - std::exp(-2.5 * t));
}

// The mains, wandering a few volts around 230 V with the load on the grid.
double Mains(double t) {
    return 230.0 + 2.5 * std::sin(kTwoPi * 1.3 * t) + 1.2 * std::sin(kTwoPi * 3.7 * t + 1.0);
}

constexpr Measurement kMeasurements[] = {
    {kDcVolt, 3, 3, ChargingCell, 0.004, 0.500, -1.0},
    {kKiloOhm, 3, 3, WarmingResistor, 0.006, 0.600, 0.8},
    {kAcVolt, 1, 3, Mains, 0.4, 25.0, -1.0},
};

// Every this many displays one of them is a spike (a contact bounce, a switching surge).
constexpr int kSpikeEvery = 170;
// How long an overload lasts, in displays (about 4 s).
constexpr int kOverloadDisplays = 10;

} // namespace

std::string DisplayText(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    int digits = 0;
    for (const char* c = text; *c; ++c)
        digits += (*c >= '0' && *c <= '9') ? 1 : 0;
    return digits > 4 ? std::string("OL") : std::string(text);
}

std::vector<ScenarioStep> DemoScenario(unsigned seed) {
    Noise noise(seed);
    std::vector<ScenarioStep> steps;
    for (const Measurement& m : kMeasurements) {
        const int displays = m.minutes * kDisplaysPerMinute;
        const int overloadFrom = m.overloadAt < 0 ? displays : static_cast<int>(m.overloadAt * displays);
        for (int i = 0; i < displays; ++i) {
            if (i == overloadFrom) {
                // The probes lifted off: an open input reads overload.
                steps.push_back({"OL", m.functionCode, kFramesPerDisplay * kOverloadDisplays});
                i += kOverloadDisplays - 1;
                continue;
            }
            const double t = static_cast<double>(i) / displays;
            double value = m.drift(t) + m.jitter * noise.Next();
            // The first spike comes a little over a minute in; the sign follows the noise.
            if (i % kSpikeEvery == kSpikeEvery - 1)
                value += m.spike * (noise.Next() < 0 ? -1.0 : 1.0);
            steps.push_back({DisplayText(value, m.decimals), m.functionCode, kFramesPerDisplay});
        }
    }
    return steps;
}

bool ParseDisplays(const QString& content, std::vector<ScenarioStep>* steps, QString* error) {
    std::vector<ScenarioStep> parsed;
    const QStringList lines = content.split(QLatin1Char('\n'));
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = lines[n].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        bool codeOk = false, framesOk = true;
        const int code = fields.value(0).toInt(&codeOk);
        const int frames = fields.size() > 2 ? fields[2].toInt(&framesOk) : 1;
        if (fields.size() < 2 || fields.size() > 3 || !codeOk || code < 0 || code > 27 || !framesOk ||
            frames < 1) {
            if (error)
                *error = QStringLiteral("line %1: expected \"<function code 0..27> <display> [frames]\"")
                             .arg(n + 1);
            return false;
        }
        parsed.push_back({fields[1].toStdString(), code, frames});
    }
    if (parsed.empty()) {
        if (error)
            *error = QStringLiteral("no displays");
        return false;
    }
    *steps = std::move(parsed);
    return true;
}

bool LoadDisplaysFile(const QString& path, std::vector<ScenarioStep>* steps, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    if (!ParseDisplays(QString::fromUtf8(file.readAll()), steps, error)) {
        if (error)
            *error = path + QStringLiteral(": ") + *error;
        return false;
    }
    return true;
}

bool ScenarioFrames(const std::vector<ScenarioStep>& steps, std::vector<Frame>* frames, QString* error) {
    std::vector<Frame> out;
    for (const ScenarioStep& step : steps) {
        const auto frame = EncodeReading(step.text, step.functionCode);
        if (!frame) {
            if (error)
                *error = QStringLiteral("cannot show \"%1\"").arg(QString::fromStdString(step.text));
            return false;
        }
        out.insert(out.end(), static_cast<std::size_t>(step.frames), *frame);
    }
    *frames = std::move(out);
    return true;
}

} // namespace zelvox
