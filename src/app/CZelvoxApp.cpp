#include "app/CZelvoxApp.h"

#include "app/CMainFrame.h"
#include "export/TextExport.h"
#include "export/WorkbookExport.h"
#include "link/CportSet.h"
#include "link/PortDiscovery.h"
#include "link/SimulatedMeter.h"
#include "panes/Cwave.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace zelvox {

CommandLine ParseCommandLine(const QStringList& arguments) {
    CommandLine options;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QLatin1String("--demo")) {
            options.demo = true;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            options.help = true;
        } else if (arg == QLatin1String("--port")) {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) {
                options.error = QStringLiteral("--port needs a port name");
                return options;
            }
            options.port = arguments[++i];
        } else if (arg.startsWith(QLatin1String("--port="))) {
            options.port = arg.mid(7);
            if (options.port.isEmpty()) {
                options.error = QStringLiteral("--port needs a port name");
                return options;
            }
        } else {
            options.error = QStringLiteral("unknown argument: %1").arg(arg);
            return options;
        }
    }
    if (options.demo && !options.port.isEmpty())
        options.error = QStringLiteral("--demo and --port cannot be used together");
    return options;
}

QString CommandLineHelp() {
    return QStringLiteral(
        "Usage: zelvox [--demo | --port NAME]\n"
        "Desktop companion of the Zelvox multimeter.\n\n"
        "  --demo        start the built-in simulated meter on a pseudo-terminal and choose it\n"
        "                as the port, so that START works at once\n"
        "  --port NAME   choose the serial port NAME at start-up: a name under /dev such as\n"
        "                ttyUSB0, or an absolute path such as /dev/serial/by-id/...\n"
        "  --help        show this text\n\n"
        "Without arguments the first serial port found is chosen; PORT SET changes it.\n");
}

CZelvoxApp::CZelvoxApp() = default;

CZelvoxApp::~CZelvoxApp() {
    delete frame_;
    frame_ = nullptr;
    if (demoMeter_)
        demoMeter_->Stop();
}

bool CZelvoxApp::InitInstance(const CommandLine& options) {
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

    frame_ = new CMainFrame(settings_);
    frame_->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(frame_, &QObject::destroyed, [this] { frame_ = nullptr; });
    QObject::connect(frame_, &CMainFrame::commandTriggered, [this](int id) { OnCommand(id); });
    frame_->show();
    frame_->setWindowTitle(QStringLiteral("Zelvox"));

    ChooseStartupPort(settings_);
    frame_->SetStatusText(2, PortStatusText(settings_.portName));
    return true;
}

void CZelvoxApp::OnCommand(int id) {
    switch (id) {
    case kCmdPortSet:
        OnPortSet();
        break;
    case kCmdSaveExcel:
        OnSaveExcelFile();
        break;
    case kCmdSaveText:
        OnSaveTextFile();
        break;
    case kCmdExportGraph:
        OnExportGraph();
        break;
    case kCmdHelpTopic:
        OnHelpTopic();
        break;
    case kCmdExit:
        OnExit();
        break;
    default:
        break;
    }
}

void CZelvoxApp::OnPortSet() {
    if (!frame_)
        return;
    QString status;
    if (RunPortSetCommand(settings_, frame_, &status))
        frame_->SetStatusText(2, status);
}

void CZelvoxApp::OnSaveExcelFile() {
    if (frame_)
        SaveExcelFileCommand(*frame_, frame_);
}

void CZelvoxApp::OnSaveTextFile() {
    if (frame_)
        SaveTextFileCommand(*frame_, frame_);
}

void CZelvoxApp::OnExportGraph() {
    if (frame_ && frame_->TrendPane())
        frame_->TrendPane()->ExportGraph();
}

QString CZelvoxApp::HelpFilePath() {
    return QDir::current().absoluteFilePath(QStringLiteral("Zelvox.chm"));
}

void CZelvoxApp::OnHelpTopic() {
    // Opened with the desktop's default handler; a missing file is not reported.
    const QString path = HelpFilePath();
    if (QFileInfo::exists(path))
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void CZelvoxApp::OnExit() {
    if (frame_)
        frame_->RequestClose();
}

} // namespace zelvox
