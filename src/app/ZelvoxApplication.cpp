#include "app/ZelvoxApplication.h"

#include "app/AlarmNotices.h"
#include "app/MainWindow.h"
#include "app/Recording.h"
#include "dialogs/PortSettingsDialog.h"
#include "export/TextExport.h"
#include "export/WorkbookExport.h"
#include "journal/Journal.h"
#include "journal/RecordKeeper.h"
#include "link/PortDiscovery.h"
#include "panes/RunEventsDock.h"
#include "panes/RunViewWindow.h"
#include "panes/TrendGraph.h"
#include "record/EventsFile.h"
#include "record/JournalFolder.h"
#include "session/MeterSession.h"
#include "session/ReadingsModel.h"
#include "sim/SimulatedMeter.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>
#include <algorithm>
#include <cstring>
#include <memory>

namespace zelvox {

ZelvoxApplication::ZelvoxApplication() = default;

ZelvoxApplication::~ZelvoxApplication() {
    delete runView_;
    delete window_;
    window_ = nullptr;
    recording_.reset(); // joins the publisher
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
    window_->Session().Keeper().KeepRunIndex(liveRun_, [this] {
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
    // Before the journal and the publisher, which the rules' events also go to. With no rule
    // given, SET > Alarms... can still add some.
    new AlarmNotices(*window_, std::move(alarmRules_), alarmCommand_, settings_.portName);
    recording_ = std::make_unique<Recording>(*window_);
    if (options.journal)
        recording_->Start(options.journalDir.isEmpty() ? DefaultJournalDir() : options.journalDir,
                          options.load, options.keep, publishTo_.get());
    if (!options.load.isEmpty())
        recording_->Load(options.load);
    return true;
}

void ZelvoxApplication::PublishTo(const PublisherOptions& options) {
    publishTo_ = std::make_unique<PublisherOptions>(options);
}

void ZelvoxApplication::WatchAlarms(std::vector<AlarmRule> rules, std::string command) {
    alarmRules_ = std::move(rules);
    alarmCommand_ = std::move(command);
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
    recording_->ShowPublisherState();
}

void ZelvoxApplication::OnSaveTextFile() {
    if (!window_)
        return;
    SayExportDuringLoad(QStringLiteral("SAVE TEXT FILE"));
    SaveTextFileCommand(window_->Session(), ExportProgress(), window_);
    recording_->ShowPublisherState();
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
        // A note on the live run goes beside the journal the readings go to now.
        runView_->Events().SetNoteWriter([this](const EventRow& row, QString* why) {
            const QString journal = recording_ ? recording_->JournalFile() : QString();
            if (journal.isEmpty()) {
                *why = QStringLiteral("no journal is kept");
                return false;
            }
            int error = 0;
            if (!AppendEventRow(journal.toStdString(), row, &error)) {
                *why = QStringLiteral("beside %1: %2")
                           .arg(journal, QString::fromLocal8Bit(std::strerror(error)));
                return false;
            }
            return true;
        });
        // Beside the main window where the screen has room for it, not on top of it.
        if (window_ && window_->screen()) {
            const QRect screen = window_->screen()->availableGeometry(), main = window_->frameGeometry();
            const int right = screen.right() - main.right(), left = main.left() - screen.left();
            const int room = std::max(right, left);
            if (room >= 480) {
                const QSize size(std::min(1000, room - 8), std::min(640, screen.height() - 40));
                const int x = right >= left ? main.right() + 8 : main.left() - 8 - size.width();
                runView_->resize(size);
                runView_->move(x, std::max(screen.top(), main.top()));
            }
        }
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
