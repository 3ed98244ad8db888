// The application object: the settings, the start-up sequence and the menu commands.
#pragma once

#include "export/ExportSupport.h"
#include "link/Settings.h"
#include "publish/PublishingOptions.h"
#include "record/JournalFolder.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <chrono>
#include <memory>

namespace zelvox {

class Journal;
class MainWindow;
class RunIndex;
class RunViewWindow;
class SimulatedMeter;

struct CommandLine {
    bool demo = false; // start the built-in simulated meter and choose its port
    QString port;      // choose this port at start-up (short name under /dev or a path)
    bool help = false;
    bool version = false;
    bool journal = true;          // keep the readings journal (--no-journal turns it off)
    QString journalDir;           // the journal's folder instead of the default one
    QString load;                 // a journal whose rows fill the table at start-up
    PruneRules keep;              // the journal's retention (--keep-days, --keep-mb)
    PublishingOptions publishing; // --mqtt URL and its companions
    QStringList view;             // --view PATH...: only the Run View of these journals
    QString error;                // set when the arguments could not be understood
    bool otherOptions = false;    // with error: options not ours, which may be Qt's
};

// Reads the program's options from a command line (program name first). Needs no application
// object, so --help, --version and mistakes are answered without a display; a command line with
// options not ours is read again once QApplication has taken Qt's (-platform NAME, -reverse...).
CommandLine ParseCommandLine(const QStringList& arguments);
QString CommandLineHelp();

class ZelvoxApplication : public QObject {
    Q_OBJECT
public:
    ZelvoxApplication();
    ~ZelvoxApplication() override;

    // Every reading also goes to this broker (from the journal); call before InitInstance.
    void PublishTo(const PublisherOptions& options);
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
    // Reads the journal at `path` into the table on a worker thread, the window answering
    // meanwhile; progress and the outcome go to the status bar. Closing the window or RESET
    // ends it.
    void LoadJournalRows(const QString& path);
    // The readings journal follows the session's dispatched readings; pruning spares `loading`.
    // False when the journal is off from the start (its notice is posted).
    bool StartJournal(const QString& dir, const QString& loading);
    // The publisher sends the journal's rows to the broker; its state goes to the status bar.
    void StartPublisher(const QString& journalDir);

    Settings settings_;
    MainWindow* window_ = nullptr; // deletes itself when closed
    std::unique_ptr<SimulatedMeter> demoMeter_;
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<PublisherOptions> publishTo_;
    PruneRules keep_; // the journal's retention, from the command line
    // The live run, indexed from the start whether or not the Run View is open.
    std::shared_ptr<RunIndex> liveRun_;
    QPointer<RunViewWindow> runView_;
    std::unique_ptr<Publisher> publisher_;
    // While publishing, a journal turned off is tried again (a new file) this often.
    static constexpr std::chrono::seconds kJournalRetry{10};
    std::chrono::steady_clock::time_point journalRetryAt_{};
    bool journalRetrying_ = false;
};

} // namespace zelvox
