// The main window: fixed four-pane layout, menu bar, status bar (prompt, clock, port, progress).
// It owns the meter session and connects the panes to it; commands reach the panes, the session
// and the status bar through it.
#pragma once

#include "app/MainLayout.h"

#include <QMainWindow>
#include <QStringList>
#include <array>
#include <memory>

class QLabel;
class QTimer;
class QAction;

namespace zelvox {

struct Settings;
class MeterSession;
class TrendGraph;
class ReadingsTable;
class NeedleGauge;
class ControlPanel;

// Menu and control ids of the commands.
enum CommandId {
    kCmdPortSet = 32771,
    kCmdSaveExcel = 32772,
    kCmdSaveText = 32773,
    kCmdExportGraph = 32774,
    kCmdHelpTopic = 32775,
    kCmdRunView = 32776,
    kCmdExit = 57665,
};

// The four panes of the status bar.
enum StatusPane {
    kPromptPane = 0,   // menu prompts, "Ready", the graph buttons' hints
    kClockPane = 1,    // the clock
    kPortPane = 2,     // the port and its line settings
    kProgressPane = 3, // export and load progress, the journal's notices
};

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // The layout follows the screen's width, wide above 800 (the primary screen's when 0).
    explicit MainWindow(Settings& settings, int screenWidth = 0, QWidget* parent = nullptr);
    ~MainWindow() override;

    TrendGraph* TrendPane() const { return graph_; }
    ReadingsTable* TablePane() const { return data_; }
    NeedleGauge* GaugePane() const { return gauge_; }
    ControlPanel* PanelPane() const { return panel_; }
    MeterSession& Session() const { return *session_; }
    Settings& AppSettings() const { return settings_; }
    // Status bar pane 0..3, repainted at once. While a notice holds the progress pane, its
    // progress text waits until the notices have been seen.
    void SetStatusText(int pane, const QString& text);
    // A text for the progress pane the user must get to see (a fault, an interrupted run, a
    // load's report): each one holds the pane for kNoticeMs before the next takes its place,
    // and the pane's tooltip keeps the latest ones.
    void PostNotice(const QString& text);
    // A notice that is no longer true leaves the queue, or the pane (which then shows the
    // progress text it covered); the tooltip keeps it.
    void WithdrawNotice(const QString& text);
    QStringList Notices() const { return notices_; }
    static constexpr int kNoticeMs = 4000;
    QString StatusText(int pane) const;
    // Closes the window once the current event is done (EXIT button, "E&xit").
    void RequestClose();

    const MainLayout& Layout() const { return layout_; }
    // The frame the window manager announced before the window was shown, or the nominal one.
    const WindowFrame& Frame() const { return frame_; }
    QAction* Command(int id) const;

    // The clock text for a date and time: YYYY-MM-DD HH:MM:SS.
    void UpdateClock();

signals:

protected:
    bool event(QEvent* event) override;

private:
    void BuildMenus();
    void BuildStatusBar();
    void BuildPanes();
    void CentreOnScreen();
    void FitPortPane();
    void ShowNextNotice();

    Settings& settings_;
    int screenWidth_;
    std::unique_ptr<MeterSession> session_;
    WindowFrame frame_{};
    MainLayout layout_{};
    TrendGraph* graph_ = nullptr;
    ReadingsTable* data_ = nullptr;
    NeedleGauge* gauge_ = nullptr;
    ControlPanel* panel_ = nullptr;
    QWidget* central_ = nullptr;
    std::array<QLabel*, 4> statusPanes_{};
    QTimer* clock_ = nullptr;
    QTimer* noticeHold_ = nullptr;
    QStringList notices_;     // the latest notices, oldest first
    QStringList noticeQueue_; // notices not shown yet
    QString waitingProgress_; // the progress text that came while a notice held the pane
    QString coveredText_;     // what the pane showed before the notice it shows now
};

} // namespace zelvox
