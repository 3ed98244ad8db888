// A small stand-in for the main frame in pane tests: owns the shared data and the status texts
// and hands out whichever real panes a test created.
#pragma once

#include "decode/ReadingHistory.h"
#include "decode/Statistics.h"
#include "link/Settings.h"
#include "panes/PaneLinks.h"

#include <QString>
#include <array>

namespace zelvox::testing {

class PaneHub : public PaneLinks {
public:
    TrendGraph* graph = nullptr;
    ReadingsTable* data = nullptr;
    NeedleGauge* gauge = nullptr;
    ControlPanel* panel = nullptr;
    ReadingHistory history;
    Statistics stats;
    Settings settings;
    std::array<QString, 4> status;
    int closeRequests = 0;

    TrendGraph* TrendPane() override { return graph; }
    ReadingsTable* TablePane() override { return data; }
    NeedleGauge* GaugePane() override { return gauge; }
    ControlPanel* PanelPane() override { return panel; }
    ReadingHistory& History() override { return history; }
    Statistics& Stats() override { return stats; }
    Settings& AppSettings() override { return settings; }
    void SetStatusText(int pane, const QString& text) override { status.at(pane) = text; }
    QString StatusText(int pane) const override { return status.at(pane); }
    void RequestClose() override { ++closeRequests; }
};

} // namespace zelvox::testing
