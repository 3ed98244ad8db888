#include "app/ZelvoxApplication.h"

#include "app/MainWindow.h"
#include "dialogs/PortSettingsDialog.h"
#include "export/TextExport.h"
#include "export/WorkbookExport.h"
#include "journal/Journal.h"
#include "journal/JournalLoader.h"
#include "link/PortDiscovery.h"
#include "panes/RunViewWindow.h"
#include "panes/TrendGraph.h"
#include "publish/Publisher.h"
#include "record/JournalFolder.h"
#include "record/ReadingRecord.h"
#include "session/MeterSession.h"
#include "session/ReadingsModel.h"
#include "sim/SimulatedMeter.h"

#include <QAction>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>

namespace zelvox {

CommandLine ParseCommandLine(const QStringList& arguments) {
    CommandLine options;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const auto withValue = [](const char* name) {
        return QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value"));
    };
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version")), demo(QStringLiteral("demo")),
        noJournal(QStringLiteral("no-journal")), discovery(QStringLiteral("mqtt-discovery")),
        view(QStringLiteral("view"));
    const QCommandLineOption port = withValue("port"), journalDir = withValue("journal-dir"),
                             load = withValue("load"), mqtt = withValue("mqtt"),
                             passwordFile = withValue("mqtt-password-file"),
                             caFile = withValue("mqtt-cafile"), certFile = withValue("mqtt-cert"),
                             keyFile = withValue("mqtt-key"), clientId = withValue("mqtt-client-id"),
                             keepDays = withValue("keep-days"), keepMb = withValue("keep-mb");
    parser.addOptions({help, version, demo, noJournal, discovery, view, port, journalDir, load, mqtt,
                       passwordFile, caFile, certFile, keyFile, clientId, keepDays, keepMb});
    if (!parser.parse(arguments)) {
        options.error = parser.errorText();
        // Qt's own options (-platform NAME, -style NAME, -reverse...) are QApplication's: once it
        // has taken them, what is left is read again.
        options.otherOptions = !parser.unknownOptionNames().isEmpty();
        return options;
    }
    options.help = parser.isSet(help);
    options.version = parser.isSet(version);
    options.demo = parser.isSet(demo);
    options.journal = !parser.isSet(noJournal);
    options.port = parser.value(port);
    options.journalDir = parser.value(journalDir);
    options.load = parser.value(load);
    PublishingOptions& p = options.publishing;
    p.url = parser.value(mqtt).toStdString();
    p.passwordFile = parser.value(passwordFile).toStdString();
    p.caFile = parser.value(caFile).toStdString();
    p.certFile = parser.value(certFile).toStdString();
    p.keyFile = parser.value(keyFile).toStdString();
    p.clientId = parser.value(clientId).toStdString();
    p.discovery = parser.isSet(discovery);
    for (const QCommandLineOption* o :
         {&port, &journalDir, &load, &mqtt, &passwordFile, &caFile, &certFile, &keyFile, &clientId})
        if (parser.isSet(*o) && parser.value(*o).isEmpty())
            options.error = QStringLiteral("--%1 needs a value").arg(o->names().first());
    if (parser.isSet(view)) {
        // --view PATH...: every argument that is not an option is a journal file or folder.
        options.view = parser.positionalArguments();
        if (options.view.isEmpty())
            options.error = QStringLiteral("--view needs a journal file or folder");
    } else if (!parser.positionalArguments().isEmpty()) {
        options.error = QStringLiteral("unknown argument: %1").arg(parser.positionalArguments().first());
    }
    std::string keepError;
    if (!SetKeepOption("keep-days", parser.value(keepDays).toStdString(), options.keep, &keepError) ||
        !SetKeepOption("keep-mb", parser.value(keepMb).toStdString(), options.keep, &keepError))
        options.error = QString::fromStdString(keepError);
    if (!options.error.isEmpty())
        return options;
    if (p.AnyCompanion() && !p.Requested())
        options.error = QStringLiteral("the --mqtt-... options need --mqtt");
    else if (p.Requested() && !options.journal)
        options.error =
            QStringLiteral("--mqtt sends the readings from the journal: it cannot go with --no-journal");
    else if (!options.view.isEmpty() &&
             (options.demo || !options.port.isEmpty() || !options.load.isEmpty() || p.Requested()))
        options.error = QStringLiteral("--view opens only the Run View: it cannot go with --demo, --port, "
                                       "--load or --mqtt");
    else if (options.demo && !options.port.isEmpty())
        options.error = QStringLiteral("--demo and --port cannot be used together");
    else if (!options.journal && !options.journalDir.isEmpty())
        options.error = QStringLiteral("--no-journal and --journal-dir cannot be used together");
    return options;
}

QString CommandLineHelp() {
    return QStringLiteral(
        "Usage: zelvox [--demo | --port NAME] [--no-journal | --journal-dir DIR] [--load FILE]\n"
        "  or:  zelvox --view PATH...\n"
        "Desktop companion of the Zelvox multimeter.\n\n"
        "Options:\n"
        "  --demo             start the built-in simulated meter on a pseudo-terminal and choose\n"
        "                     it as the port, so that START works at once\n"
        "  --port NAME        choose the serial port NAME at start-up: a name under /dev such as\n"
        "                     ttyUSB0, or an absolute path such as /dev/serial/by-id/...\n"
        "  --no-journal       keep no journal of the readings\n"
        "  --journal-dir DIR  keep the readings journal in DIR instead of\n"
        "                     $XDG_STATE_HOME/zelvox/recordings (~/.local/state/zelvox/recordings)\n"
        "  --keep-days N, --keep-mb N  remove a journal last written more than N days ago\n"
        "                     (365), and the oldest once the folder is over N MB (500)\n"
        "  --load FILE        start with the rows of the journal FILE in the table, to export\n"
        "                     them with SAVE EXCEL FILE or SAVE TEXT FILE; new readings follow\n"
        "  --view PATH...     open only the Run View (no main window, no port, no journal of\n"
        "                     its own) of the journal files or folders of journals PATH: the\n"
        "                     whole run with a time axis, zoom, cursors and span statistics\n"
        "  --mqtt URL         also publish every reading to an MQTT broker at QoS 1 (off unless\n"
        "                     asked for): URL mqtt://[USER@]HOST[:PORT]/PREFIX, or mqtts://...\n"
        "                     for TLS; topics PREFIX/reading (JSON, with run and index) and\n"
        "                     PREFIX/status (retained online/offline). Readings are sent from\n"
        "                     the journal, so none is lost while the broker is away or after\n"
        "                     a crash; status bar pane 3 shows the broker and the backlog\n"
        "  --mqtt-password-file FILE  the password (first line of FILE); without it, the\n"
        "                     environment variable ZELVOX_MQTT_PASSWORD (never on the command line)\n"
        "  --mqtt-cafile FILE the CA that signed the broker's certificate\n"
        "  --mqtt-cert FILE, --mqtt-key FILE  a client certificate and its key\n"
        "  --mqtt-client-id ID  default zelvox-HOST-PORT (the --port name, or \"desktop\")\n"
        "  --mqtt-discovery   Home Assistant discovery configs (retained)\n"
        "  --version          show the program's version\n"
        "  --help             show this text\n\n"
        "Without arguments the first serial port found is chosen; PORT SET changes it.\n"
        "Every reading shown in the table is also written to a journal file (one CSV file per\n"
        "run of the table, named by its start time), so a crash does not lose the run.\n");
}

ZelvoxApplication::ZelvoxApplication() = default;

ZelvoxApplication::~ZelvoxApplication() {
    delete runView_;
    delete window_;
    window_ = nullptr;
    if (demoMeter_)
        demoMeter_->Stop();
}

bool ZelvoxApplication::InitInstance(const CommandLine& options) {
    QStringList extraPorts;
    if (options.demo) {
        demoMeter_ = std::make_unique<SimulatedMeter>();
        QString error;
        if (!demoMeter_->Start(&error)) {
            QMessageBox::critical(nullptr, QStringLiteral("Zelvox"),
                                  QStringLiteral("The simulated meter could not be started: %1").arg(error));
            return false;
        }
        extraPorts << demoMeter_->SlavePath();
    } else if (!options.port.isEmpty()) {
        extraPorts << options.port;
    }
    // The demo meter or the port named on the command line comes first in every port list.
    SetExtraPorts(extraPorts);

    window_ = new MainWindow(settings_);
    window_->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(window_, &QObject::destroyed, [this] { window_ = nullptr; });
    connect(window_->Command(kCmdPortSet), &QAction::triggered, this, &ZelvoxApplication::OnPortSet);
    connect(window_->Command(kCmdSaveExcel), &QAction::triggered, this, &ZelvoxApplication::OnSaveExcelFile);
    connect(window_->Command(kCmdSaveText), &QAction::triggered, this, &ZelvoxApplication::OnSaveTextFile);
    connect(window_->Command(kCmdExportGraph), &QAction::triggered, this, &ZelvoxApplication::OnExportGraph);
    connect(window_->Command(kCmdHelpTopic), &QAction::triggered, this, &ZelvoxApplication::OnHelpTopic);
    connect(window_->Command(kCmdExit), &QAction::triggered, this, &ZelvoxApplication::OnExit);
    connect(window_->Command(kCmdRunView), &QAction::triggered, this, &ZelvoxApplication::OnRunView);
    if (window_->TrendPane())
        connect(window_->TrendPane(), &TrendGraph::runViewRequested, this, &ZelvoxApplication::OnRunView);
    // The live run is indexed reading by reading from the start, so the Run View shows all of it.
    liveRun_ = std::make_shared<RunIndex>();
    connect(&window_->Session(), &MeterSession::readingRecorded, window_, [this](const DispatchedReading& d) {
        RunViewWindow::Record(*liveRun_, d);
        if (runView_)
            runView_->Grew();
    });
    // The live Run View goes with the main window.
    connect(window_, &QObject::destroyed, this, [this] { delete runView_; });
    MainWindow* window = window_;
    QObject::connect(&window_->Session(), &MeterSession::tableFull, window_, [window] {
        window->PostNotice(
            QStringLiteral("The table holds the largest Index a row can have: RESET to record more"));
    });
    window_->show();
    window_->setWindowTitle(QStringLiteral("Zelvox"));

    ChooseStartupPort(settings_);
    window_->SetStatusText(kPortPane, PortStatusText(settings_.portName));
    keep_ = options.keep;
    if (options.journal) {
        const QString dir = options.journalDir.isEmpty() ? DefaultJournalDir() : options.journalDir;
        if (StartJournal(dir, options.load) && publishTo_)
            StartPublisher(dir);
        else if (publishTo_)
            window_->PostNotice(
                QStringLiteral("Publishing off: the publisher sends from the journal, which is off"));
    }
    if (!options.load.isEmpty())
        LoadJournalRows(options.load);
    return true;
}

bool ZelvoxApplication::StartJournal(const QString& dir, const QString& loading) {
    journal_ = std::make_unique<Journal>(dir);
    Journal* journal = journal_.get();
    MainWindow* window = window_;
    QObject::connect(journal, &Journal::turnedOff, window, [this, window](const QString& why) {
        // A new file that fails again while publishing is not said again: the status says it.
        if (!journalRetrying_)
            window->PostNotice(QStringLiteral("Journal off: %1").arg(why));
    });
    const QString loaded = loading.isEmpty() ? QString() : QFileInfo(loading).canonicalFilePath();
    PruneRules rules = keep_;
    // The file being loaded stays; so do rows the broker this run publishes to has not had.
    rules.keep = [loaded](const std::string& path) {
        return !loaded.isEmpty() && QFileInfo(QString::fromStdString(path)).canonicalFilePath() == loaded;
    };
    if (publishTo_)
        rules.publishingTo = publishTo_->target.Name();
    const JournalStartup startup = journal->Start(rules);
    for (const QString& notice : startup.Notices())
        window->PostNotice(notice);

    // Every dispatched reading, right after its table row.
    MeterSession& session = window->Session();
    QObject::connect(&session, &MeterSession::readingRecorded, journal, &Journal::Append);
    QObject::connect(&session, &MeterSession::dataReset, journal, &Journal::NewRun);
    QObject::connect(&session, &MeterSession::stopped, journal, &Journal::Sync);
    // Closing the window ends the run cleanly: its rows are on disk before the program goes.
    QObject::connect(window, &QObject::destroyed, journal, &Journal::Close);
    return startup.ok;
}

void ZelvoxApplication::PublishTo(const PublisherOptions& options) {
    publishTo_ = std::make_unique<PublisherOptions>(options);
}

void ZelvoxApplication::StartPublisher(const QString& journalDir) {
    PublisherOptions options = *publishTo_;
    options.journalDir = journalDir.toStdString();
    publisher_ = std::make_unique<Publisher>(options);
    // The broker's state and backlog, pushed by the publisher's thread as they change and shown
    // in the progress pane on this one when no export is under way (an export pauses the
    // workers and holds the pane; the latest state is shown once it is done).
    auto latest = std::make_shared<QString>();
    auto show = std::make_shared<std::function<void()>>();
    *show = [this, latest, weak = std::weak_ptr<std::function<void()>>(show)] {
        if (!window_ || latest->isEmpty())
            return;
        if (window_->Session().Paused()) {
            if (const auto again = weak.lock())
                QTimer::singleShot(1000, this, *again);
            return;
        }
        window_->SetStatusText(kProgressPane, *latest);
        latest->clear();
    };
    publisher_->OnStatus([this, latest, show, said = std::string()](const PublisherStatus& status) mutable {
        const QString text = QString::fromStdString(DescribeStatus(status));
        // What the publisher says once (a sidecar it could not trust) becomes a notice.
        QString notice;
        if (status.notice != said && !status.notice.empty())
            notice = QString::fromStdString(status.notice);
        said = status.notice;
        QMetaObject::invokeMethod(
            this,
            [this, latest, show, text, notice] {
                if (!notice.isEmpty() && window_)
                    window_->PostNotice(QStringLiteral("Publishing: %1").arg(notice));
                *latest = text;
                (*show)();
            },
            Qt::QueuedConnection);
    });
    std::string error;
    MainWindow* window = window_;
    if (!publisher_->Start(&error)) {
        publisher_.reset();
        window->PostNotice(QStringLiteral("Publishing off: %1").arg(QString::fromStdString(error)));
        return;
    }
    // After the journal has the row: the publisher sends it from there, on its own threads.
    // While the journal is off (a full disk) the row goes to the publisher's memory queue, and
    // a new journal file is tried with the next row, then every kJournalRetry.
    Publisher* publisher = publisher_.get();
    Journal* journal = journal_.get();
    MeterSession& session = window->Session();
    QObject::connect(journal, &Journal::turnedOff, this, [publisher](const QString& why) {
        publisher->JournalState(JournalOffReason(why).toStdString());
    });
    QObject::connect(&session, &MeterSession::readingRecorded, window,
                     [this, publisher, journal](const DispatchedReading& dispatched) {
                         if (journal->IsOff() && std::chrono::steady_clock::now() >= journalRetryAt_) {
                             journalRetryAt_ = std::chrono::steady_clock::now() + kJournalRetry;
                             journalRetrying_ = true;
                             journal->Resume();
                             journal->Append(dispatched);
                             journalRetrying_ = false;
                             if (!journal->IsOff()) {
                                 publisher->JournalState({});
                                 window_->PostNotice(
                                     QStringLiteral("Journal: going on in %1").arg(journal->CurrentFile()));
                             }
                         }
                         if (journal->IsOff()) {
                             publisher->Held(dispatched);
                             return;
                         }
                         const QString file = journal->CurrentFile();
                         if (!file.isEmpty())
                             publisher->Appended(file.toStdString());
                     });
    // Closing the window: the journal ends its run first, then the publisher is asked to end
    // without this thread waiting for it (a stuck broker must not hold the window); it is
    // joined when the program ends, and what it could not send stays in the journal.
    QObject::connect(window, &QObject::destroyed, this, [this] {
        if (publisher_)
            publisher_->RequestStop(std::chrono::seconds(1));
    });
}

void ZelvoxApplication::LoadJournalRows(const QString& path) {
    // A child of the window: closing the window cancels the load and waits for its thread.
    auto* load = new JournalLoad(path, window_);
    MainWindow* window = window_;
    MeterSession& session = window->Session();
    // New readings take Indices after the file's: none is handed out twice.
    session.BeginLoad(LargestIndexInTail(path));
    QObject::connect(load, &JournalLoad::rowsRead, window,
                     [&session](const std::vector<JournalRow>& rows) { session.AddLoadedRows(rows); });
    QObject::connect(load, &JournalLoad::progress, window, [window, path](int percent) {
        window->SetStatusText(kProgressPane, QStringLiteral("Loading %1: %2%").arg(path).arg(percent));
    });
    // RESET empties the table: the rest of the file is not wanted.
    QObject::connect(&session, &MeterSession::dataReset, load, &JournalLoad::Cancel);
    QObject::connect(load, &JournalLoad::finished, window, [window, load, path](const JournalReport& report) {
        const std::int64_t leftOut = window->Session().EndLoad();
        if (report.cancelled) {
            window->PostNotice(QStringLiteral("Load of %1 stopped by RESET").arg(path));
        } else {
            if (report.ok)
                ForgetInterrupted(QFileInfo(path).absoluteFilePath().toStdString());
            QString text = report.Summary(path);
            if (leftOut > 0)
                text +=
                    QStringLiteral("; %1 of them left out: readings taken during the load have their Index")
                        .arg(leftOut);
            window->PostNotice(text);
        }
        load->deleteLater();
    });
    load->Start();
}

void ZelvoxApplication::OnPortSet() {
    if (!window_)
        return;
    QString status;
    if (RunPortSetCommand(settings_, window_, window_->Session().IsRunning(), &status))
        window_->SetStatusText(kPortPane, status);
}

ProgressText ZelvoxApplication::ExportProgress() const {
    MainWindow* window = window_;
    return [window](const QString& text) { window->SetStatusText(kProgressPane, text); };
}

void ZelvoxApplication::SayExportDuringLoad(const QString& command) {
    if (window_->Session().Loading())
        window_->PostNotice(QStringLiteral("%1: a journal is still loading; the file holds only the rows "
                                           "loaded so far (%2 rows in the table)")
                                .arg(command)
                                .arg(window_->Session().Readings().Count()));
}

void ZelvoxApplication::OnSaveExcelFile() {
    if (!window_)
        return;
    SayExportDuringLoad(QStringLiteral("SAVE EXCEL FILE"));
    SaveExcelFileCommand(window_->Session(), ExportProgress(), window_);
}

void ZelvoxApplication::OnSaveTextFile() {
    if (!window_)
        return;
    SayExportDuringLoad(QStringLiteral("SAVE TEXT FILE"));
    SaveTextFileCommand(window_->Session(), ExportProgress(), window_);
}

void ZelvoxApplication::OnExportGraph() {
    if (window_ && window_->TrendPane())
        window_->TrendPane()->ExportGraph();
}

QString ZelvoxApplication::InstalledDataDir() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                           QStringLiteral(ZELVOX_DATA_FROM_BINDIR));
}

QString ZelvoxApplication::HelpFilePath(const QString& dataDir) {
    const QString name = QStringLiteral("Zelvox.chm");
    for (const QString& dir : {QDir::currentPath(), dataDir}) {
        const QString path = QDir(dir).absoluteFilePath(name);
        if (!dir.isEmpty() && QFileInfo::exists(path))
            return path;
    }
    return {};
}

void ZelvoxApplication::OnHelpTopic() {
    // Opened with the desktop's default handler; a missing file is not reported, a file that
    // no program could be started for is.
    const QString path = HelpFilePath();
    if (!path.isEmpty() && !QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        QMessageBox::warning(window_, QStringLiteral("Zelvox"),
                             QStringLiteral("No program was found to show the help file %1.")
                                 .arg(QDir::toNativeSeparators(path)));
}

void ZelvoxApplication::OnRunView() {
    if (!runView_) {
        runView_ = new RunViewWindow(liveRun_);
        runView_->setWindowTitle(QStringLiteral("Live - Run View - Zelvox"));
    }
    runView_->show();
    runView_->raise();
    runView_->activateWindow();
}

void ZelvoxApplication::OnExit() {
    if (window_)
        window_->RequestClose();
}

} // namespace zelvox
