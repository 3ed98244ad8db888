#include "app/MainWindow.h"
#include "app/SignalShutdown.h"
#include "app/ZelvoxApplication.h"
#include "decode/StandardStreams.h"

#include <QApplication>
#include <cstdio>

#ifdef ZELVOX_PAINT_COUNTS
#include "PaintCounter.h" // the benchmarks' build of the program counts repaints per pane
#endif

int main(int argc, char** argv) {
    zelvox::OpenStandardStreams();
    // Read before the application object exists: it needs a display, --help does not.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const zelvox::CommandLine options = zelvox::ParseCommandLine(arguments);
    if (options.help) {
        std::fputs(qPrintable(zelvox::CommandLineHelp()), stdout);
        return 0;
    }
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "zelvox: %s\n\n%s", qPrintable(options.error),
                     qPrintable(zelvox::CommandLineHelp()));
        return 2;
    }
    if (options.version) {
        std::printf("zelvox %s\n", ZELVOX_VERSION);
        return 0;
    }

    zelvox::PublisherOptions publishing;
    if (options.publishing.Requested()) {
        // A bad URL, an unreadable password or certificate file: said at once, before a window.
        std::string error;
        std::string warning;
        // Without --port: an id of this running instance's own.
        if (!zelvox::MakePublisherOptions(options.publishing, options.port.toStdString(), &publishing, &error,
                                          &warning)) {
            std::fprintf(stderr, "zelvox: %s\n", error.c_str());
            return 2;
        }
        if (!warning.empty())
            std::fprintf(stderr, "zelvox: warning: %s\n", warning.c_str());
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zelvox"));
    QApplication::setApplicationVersion(QStringLiteral(ZELVOX_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("zelvox"));
    zelvox::SignalShutdown signalShutdown; // SIGINT, SIGTERM, SIGHUP close it as the close box does

    zelvox::ZelvoxApplication zelvoxApp;
    if (options.publishing.Requested())
        zelvoxApp.PublishTo(publishing);
    if (!zelvoxApp.InitInstance(options))
        return 1;
#ifdef ZELVOX_PAINT_COUNTS
    zelvox::InstallPaintCounters(zelvoxApp.Window());
#endif
    return app.exec();
}
