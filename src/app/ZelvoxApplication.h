// The application object: the settings, the start-up sequence and the menu commands.
#pragma once

#include "alarm/AlarmRule.h"

#include "app/CommandLine.h"
#include "export/ExportSupport.h"
#include "link/Settings.h"
#include "publish/PublishingOptions.h"
#include "record/JournalFolder.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>

namespace zelvox {

class MainWindow;
class Recording;
class RunIndex;
class RunViewWindow;
class SimulatedMeter;

class ZelvoxApplication : public QObject {
    Q_OBJECT
public:
    ZelvoxApplication();
    ~ZelvoxApplication() override;

    // Every reading also goes to this broker (from the journal); call before InitInstance.
    void PublishTo(const PublisherOptions& options);
    // Every accepted frame is checked against these rules; call before InitInstance.
    void WatchAlarms(std::vector<AlarmRule> rules, std::string command);
    // Creates and shows the main window, chooses the start-up port; false ends the program.
    bool InitInstance(const CommandLine& options);

    MainWindow* Window() const { return window_; }
    Settings& AppSettings() { return settings_; }

public slots:
    // Menu commands, each connected to its action.
    void OnPortSet();
    void OnSaveExcelFile();
    void OnSaveTextFile();
    void OnExportGraph();
    void OnHelpTopic();
    void OnExit();
    void OnRunView();

public:
    // The help file Zelvox.chm: in the current working directory, else in `dataDir` (the
    // installed data folder by default); empty when neither holds it.
    static QString HelpFilePath(const QString& dataDir = InstalledDataDir());
    // The installed program's data folder, BINDIR/../share/zelvox from the running program.
    static QString InstalledDataDir();

private:
    // The exports' progress texts go to the status bar's fourth pane.
    ProgressText ExportProgress() const;
    // An export while a journal loads holds only the rows loaded so far: said before it starts.
    void SayExportDuringLoad(const QString& command);
    Settings settings_;
    MainWindow* window_ = nullptr; // deletes itself when closed
    std::unique_ptr<SimulatedMeter> demoMeter_;
    std::unique_ptr<PublisherOptions> publishTo_;
    std::unique_ptr<Recording> recording_;
    std::vector<AlarmRule> alarmRules_;
    std::string alarmCommand_;
    // The live run, indexed from the start whether or not the Run View is open.
    std::shared_ptr<RunIndex> liveRun_;
    QPointer<RunViewWindow> runView_;
};

} // namespace zelvox
