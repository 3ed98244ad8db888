// What the main frame offers the panes: the other panes, the shared data and the status bar.
// A pane reaches another pane only through this.
#pragma once

#include <QString>

namespace zelvox {

class TrendGraph;
class ReadingsTable;
class NeedleGauge;
class ControlPanel;
class ReadingHistory;
class Statistics;
struct Settings;

class PaneLinks {
public:
    virtual ~PaneLinks() = default;
    virtual TrendGraph* TrendPane() = 0;
    virtual ReadingsTable* TablePane() = 0;
    virtual NeedleGauge* GaugePane() = 0;
    virtual ControlPanel* PanelPane() = 0;
    virtual ReadingHistory& History() = 0;
    virtual Statistics& Stats() = 0;
    virtual Settings& AppSettings() = 0;
    // Status bar pane 0..3, repainted at once.
    virtual void SetStatusText(int pane, const QString& text) = 0;
    virtual QString StatusText(int pane) const = 0;
    // Asks the main window to close (EXIT button, "E&xit").
    virtual void RequestClose() = 0;
};

} // namespace zelvox
