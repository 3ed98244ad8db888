// The main window: fixed four-pane layout, menu bar, status bar (prompt, clock, port, progress).
// It owns the reading history and the statistics and is the hub through which panes and
// commands reach each other.
#pragma once

#include "app/MainLayout.h"
#include "decode/ReadingHistory.h"
#include "decode/Statistics.h"
#include "panes/PaneLinks.h"

#include <QMainWindow>
#include <array>
#include <memory>

class QLabel;
class QTimer;
class QAction;

namespace zelvox {

struct Settings;

// Menu and control ids of the commands.
enum CommandId {
    kCmdPortSet = 32771,
    kCmdSaveExcel = 32772,
    kCmdSaveText = 32773,
    kCmdExportGraph = 32774,
    kCmdHelpTopic = 32775,
    kCmdExit = 57665,
};

class MainWindow : public QMainWindow, public PaneLinks {
    Q_OBJECT
public:
    explicit MainWindow(Settings& settings, QWidget* parent = nullptr);
    ~MainWindow() override;

    // PaneLinks
    TrendGraph* TrendPane() override { return graph_; }
    ReadingsTable* TablePane() override { return data_; }
    NeedleGauge* GaugePane() override { return gauge_; }
    ControlPanel* PanelPane() override { return panel_; }
    ReadingHistory& History() override { return *history_; }
    Statistics& Stats() override { return stats_; }
    Settings& AppSettings() override { return settings_; }
    void SetStatusText(int pane, const QString& text) override;
    QString StatusText(int pane) const override;
    void RequestClose() override;

    const MainLayout& Layout() const { return layout_; }
    // The frame the window manager announced before the window was shown, or the nominal one.
    const WindowFrame& Frame() const { return frame_; }
    QAction* Command(int id) const;
    QLabel* StatusPane(int pane) const { return statusPanes_.at(pane); }

    // The clock text for a date and time: YYYY-MM-DD HH:MM:SS.
    void UpdateClock();

signals:
    void commandTriggered(int id);

protected:
    bool event(QEvent* event) override;

private:
    void BuildMenus();
    void BuildStatusBar();
    void BuildPanes();
    void CentreOnScreen();
    void FitPortPane();

    Settings& settings_;
    std::unique_ptr<ReadingHistory> history_;
    Statistics stats_;
    WindowFrame frame_{};
    MainLayout layout_{};
    TrendGraph* graph_ = nullptr;
    ReadingsTable* data_ = nullptr;
    NeedleGauge* gauge_ = nullptr;
    ControlPanel* panel_ = nullptr;
    QWidget* central_ = nullptr;
    std::array<QLabel*, 4> statusPanes_{};
    QTimer* clock_ = nullptr;
};

} // namespace zelvox
