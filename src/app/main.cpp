#include "app/MainWindow.h"
#include "app/SignalShutdown.h"
#include "app/ZelvoxApplication.h"
#include "decode/StandardStreams.h"
#include "panes/RunBrokerFeed.h"
#include "panes/RunViewWindow.h"

#include <QApplication>
#include <QMessageBox>
#include <algorithm>
#include <cstdio>

namespace {

// Answers --help, --version and a wrong command line; -1 when the program is to run.
int Answered(const zelvox::CommandLine& options) {
    if (options.help) {
        std::fputs(qPrintable(zelvox::CommandLineHelp()), stdout);
        return 0;
    }
    if (!options.error.isEmpty()) {
        // The reason is the last line, after a one-line pointer to the whole usage.
        std::fprintf(stderr, "zelvox: see zelvox --help\nzelvox: %s\n", qPrintable(options.error));
        return 2;
    }
    if (options.version) {
        std::printf("zelvox %s\n", ZELVOX_VERSION);
        return 0;
    }
    return -1;
}

// The broker's options checked: a bad URL, an unreadable password or certificate file is said
// at once, before a window (status 2); -1 when they can work (or none are given).
int PublishingChecked(const zelvox::CommandLine& options, zelvox::PublisherOptions* publishing) {
    if (!options.publishing.Requested())
        return -1;
    std::string error, warning;
    // Without --port: an id of this running instance's own.
    if (zelvox::MakePublisherOptions(options.publishing, options.port.toStdString(), publishing, &error,
                                     &warning)) {
        if (!warning.empty())
            std::fprintf(stderr, "zelvox: warning: %s\n", warning.c_str());
        return -1;
    }
    std::fprintf(stderr, "zelvox: %s\n", error.c_str());
    return 2;
}

// True when QApplication can start: a display to reach, or a platform named.
bool CanStartApplication(const QStringList& arguments) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (qEnvironmentVariableIsSet(name))
            return true;
    return std::any_of(arguments.begin(), arguments.end(), [](const QString& a) {
        return a.startsWith(QLatin1String("-platform")) || a.startsWith(QLatin1String("--platform"));
    });
}

int AnsweredOrChecked(const zelvox::CommandLine& options, zelvox::PublisherOptions* publishing) {
    const int status = Answered(options);
    return status >= 0 ? status : PublishingChecked(options, publishing);
}

} // namespace

int main(int argc, char** argv) {
    zelvox::OpenStandardStreams();
    // Read before the application object exists: it needs a display, --help does not.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    zelvox::CommandLine options = zelvox::ParseCommandLine(arguments);
    zelvox::PublisherOptions publishing;
    // Options not ours, with no display to start QApplication on: they are mistakes.
    if (options.otherOptions && !CanStartApplication(arguments))
        options.otherOptions = false;
    if (!options.otherOptions) {
        if (const int status = AnsweredOrChecked(options, &publishing); status >= 0)
            return status;
    }

    QApplication app(argc, argv);
    if (options.otherOptions) {
        // QApplication has taken Qt's options; anything else left is a mistake.
        options = zelvox::ParseCommandLine(QCoreApplication::arguments());
        if (const int status = AnsweredOrChecked(options, &publishing); status >= 0)
            return status;
    }
    QApplication::setApplicationName(QStringLiteral("Zelvox"));
    QApplication::setApplicationVersion(QStringLiteral(ZELVOX_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("zelvox"));
    zelvox::SignalShutdown signalShutdown; // SIGINT, SIGTERM, SIGHUP close it as the close box does

    if (!options.view.isEmpty()) {
        // Only the Run View: no main window, no port, no journal of its own.
        zelvox::RunViewWindow view;
        const QString& first = options.view.first();
        if (first.startsWith(QLatin1String("mqtt://")) || first.startsWith(QLatin1String("mqtts://"))) {
            // A meter (or a lab of them) on the broker, with the publisher's password and TLS options.
            const zelvox::PublishingOptions& p = options.publishing;
            zelvox::MqttTarget target;
            std::string error;
            QString why;
            if (!zelvox::ParseViewUrl(first.toStdString(), p.passwordFile, p.caFile, p.certFile, p.keyFile,
                                      target, &error) ||
                !view.OpenBroker(target, &why)) {
                std::fprintf(stderr, "zelvox: %s\n", error.empty() ? qPrintable(why) : error.c_str());
                return 2;
            }
        } else {
            view.Open(options.view);
        }
        if (options.power)
            view.AddPowerLane();
        view.show();
        return app.exec();
    }

    zelvox::ZelvoxApplication zelvoxApp;
    if (options.publishing.Requested())
        zelvoxApp.PublishTo(publishing);
    if (options.alarms.Requested()) {
        // A rule that does not parse is never left out: the box names it and where it went wrong.
        std::vector<zelvox::AlarmRule> rules;
        std::string error;
        if (!zelvox::MakeAlarmRules(options.alarms, rules, &error)) {
            std::fprintf(stderr, "zelvox: %s\n", error.c_str());
            QMessageBox::critical(
                nullptr, QStringLiteral("Zelvox"),
                QStringLiteral("The alarm rules cannot be used:\n%1").arg(QString::fromStdString(error)));
            return 2;
        }
        zelvoxApp.WatchAlarms(std::move(rules), options.alarms.exec);
    }
    if (!zelvoxApp.InitInstance(options))
        return 1;
    return app.exec();
}
