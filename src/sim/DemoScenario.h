// What the simulated meter shows: a list of displays, each held for a number of frames. The
// built-in demo walks through the meter's functions; a displays file plays anything else.
#pragma once

#include "decode/Frame.h"

#include <QString>
#include <string>
#include <vector>

namespace zelvox {

struct ScenarioStep {
    std::string text;     // the display as DisplayFor reads it: "-1.234", "21.5", "OL"
    int functionCode = 0; // 0..27
    int frames = 1;       // how many frames in a row show it
};

// The demo: three minutes each of a lithium cell charging (DC volts), a thermistor warming up
// (kilohms, with the probes lifted off for a few seconds: overload) and the mains (AC volts), each value
// drifting slowly with a little noise and the occasional spike. Deterministic for a seed.
std::vector<ScenarioStep> DemoScenario(unsigned seed = 1);

// A displays file: one display per line, "<function code> <text> [frames]"; blank lines and
// lines starting with '#' are skipped. frames defaults to 1. On error *error names the line.
bool ParseDisplays(const QString& content, std::vector<ScenarioStep>* steps, QString* error);
bool LoadDisplaysFile(const QString& path, std::vector<ScenarioStep>* steps, QString* error);

// The frames of the steps in order, each step repeated as often as it says. Fails (with the
// step's text in *error) for a display the encoder cannot show.
bool ScenarioFrames(const std::vector<ScenarioStep>& steps, std::vector<Frame>* frames, QString* error);

// The text a four-digit display shows for `value` with `decimals` places, or "OL" when the
// value needs more than four digits.
std::string DisplayText(double value, int decimals);

} // namespace zelvox
