#include "app/ZelvoxApplication.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zelvox"));
    QApplication::setDesktopFileName(QStringLiteral("zelvox"));

    const zelvox::CommandLine options = zelvox::ParseCommandLine(QApplication::arguments());
    if (options.help) {
        std::fputs(qPrintable(zelvox::CommandLineHelp()), stdout);
        return 0;
    }
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "zelvox: %s\n\n%s", qPrintable(options.error),
                     qPrintable(zelvox::CommandLineHelp()));
        return 2;
    }

    zelvox::ZelvoxApplication zelvoxApp;
    if (!zelvoxApp.InitInstance(options))
        return 1;
    return app.exec();
}
