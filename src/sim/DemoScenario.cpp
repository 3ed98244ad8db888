#include "sim/DemoScenario.h"

#include "decode/FrameEncoder.h"
#include "decode/FunctionCode.h"

#include <QFile>
#include <QStringList>
#include <cstdio>

namespace zelvox {

namespace {

// A display is refreshed a few times a second; the meter repeats it in every frame between.
constexpr int kFramesPerDisplay = 5;
constexpr int kDisplaysPerFunction = 16;

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

struct Walk {
    int functionCode;
    int decimals;
    double start;
    double end;    // a ramp from start to end
    double jitter; // plus noise of this size
};

// Function codes: 1 DCV V, 2 DCV mV, 3 ACV V, 6 DCA mA, 12 OHM KΩ, 18 FRE KHz, 20 DUTY,
// 23 TMP ℃, 26 °, 27 kRPM.
constexpr Walk kWalks[] = {
    {1, 3, 1.500, 1.500, 0.004},  // a cell drifting around 1.5 V
    {1, 2, 3.00, -3.00, 0.02},    // a DC sweep through zero into negative volts
    {2, 1, 125.0, 131.0, 0.4},    // millivolts
    {12, 3, 4.700, 4.700, 0.006}, // a 4.7 kΩ resistor
    {23, 1, 21.0, 85.0, 0.3},     // a temperature ramp
    {18, 3, 1.000, 1.000, 0.002}, // a 1 kHz signal
    {20, 1, 25.0, 75.0, 0.2},     // duty cycle
    {26, 0, 0.0, 345.0, 2.0},     // degrees
    {27, 2, 1.20, 3.60, 0.01},    // kRPM
    {3, 1, 230.0, 230.0, 1.5},    // AC mains
    {6, 2, -12.34, -12.34, 0.05}, // a negative DC current
};

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
    const auto add = [&](const Walk& walk) {
        for (int i = 0; i < kDisplaysPerFunction; ++i) {
            const double t = static_cast<double>(i) / (kDisplaysPerFunction - 1);
            const double value = walk.start + (walk.end - walk.start) * t + walk.jitter * noise.Next();
            steps.push_back({DisplayText(value, walk.decimals), walk.functionCode, kFramesPerDisplay});
        }
    };
    for (const Walk& walk : kWalks) {
        add(walk);
        if (walk.functionCode == kKiloOhm) {
            // The probes lifted off the resistor: an open input reads overload.
            steps.push_back({"OL", 12, kFramesPerDisplay * kDisplaysPerFunction / 2});
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
