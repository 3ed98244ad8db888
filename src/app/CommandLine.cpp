#include "app/CommandLine.h"

#include <QCommandLineParser>

namespace zelvox {

CommandLine ParseCommandLine(const QStringList& given) {
    CommandLine options;
    // The alarm options are taken first, by their own parser (the logger's); the rest go to Qt's.
    std::vector<std::string> all;
    for (const QString& a : given)
        all.push_back(a.toStdString());
    QStringList arguments;
    for (std::size_t i = 0; i < all.size(); ++i) {
        std::string error;
        const int taken = i == 0 ? 0 : TakeAlarmOption(all, i, options.alarms, &error);
        if (taken < 0) {
            options.error = QString::fromStdString(error);
            return options;
        }
        if (taken == 0)
            arguments << given[static_cast<qsizetype>(i)];
    }
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const auto withValue = [](const char* name) {
        return QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value"));
    };
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version")), demo(QStringLiteral("demo")),
        noJournal(QStringLiteral("no-journal")), discovery(QStringLiteral("mqtt-discovery")),
        view(QStringLiteral("view")), power(QStringLiteral("power"));
    const QCommandLineOption port = withValue("port"), journalDir = withValue("journal-dir"),
                             load = withValue("load"), mqtt = withValue("mqtt"),
                             passwordFile = withValue("mqtt-password-file"),
                             caFile = withValue("mqtt-cafile"), certFile = withValue("mqtt-cert"),
                             keyFile = withValue("mqtt-key"), clientId = withValue("mqtt-client-id"),
                             keepDays = withValue("keep-days"), keepMb = withValue("keep-mb");
    parser.addOptions({help, version, demo, noJournal, discovery, view, power, port, journalDir, load, mqtt,
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
            options.error = QStringLiteral("--view needs a journal file or folder, or a broker's URL");
        options.power = parser.isSet(power);
    } else if (parser.isSet(power)) {
        options.error = QStringLiteral("--power goes with --view");
    } else if (!parser.positionalArguments().isEmpty()) {
        options.error = QStringLiteral("unknown argument: %1").arg(parser.positionalArguments().first());
    }
    std::string keepError;
    if (!SetKeepOption("keep-days", parser.value(keepDays).toStdString(), options.keep, &keepError) ||
        !SetKeepOption("keep-mb", parser.value(keepMb).toStdString(), options.keep, &keepError))
        options.error = QString::fromStdString(keepError);
    if (!options.error.isEmpty())
        return options;
    const bool viewsBroker =
        options.view.size() == 1 && (options.view[0].startsWith(QLatin1String("mqtt://")) ||
                                     options.view[0].startsWith(QLatin1String("mqtts://")));
    if (p.AnyCompanion() && !p.Requested() && !viewsBroker)
        options.error = QStringLiteral("the --mqtt-... options need --mqtt");
    else if (p.Requested() && !options.journal)
        options.error =
            QStringLiteral("--mqtt sends the readings from the journal: it cannot go with --no-journal");
    else if (!options.view.isEmpty() && (options.demo || !options.port.isEmpty() || !options.load.isEmpty() ||
                                         p.Requested() || options.alarms.Requested()))
        options.error = QStringLiteral("--view opens only the Run View: it cannot go with --demo, --port, "
                                       "--load, --mqtt or --alarm");
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
               "                     its own) of the journal files, logs (PORT.log, PORT.log.N.gz) or\n"
               "                     folders PATH: the whole run with a time axis, zoom, cursors and\n"
               "                     span statistics; the newest file is followed as it grows. PATH may\n"
               "                     be a broker's URL mqtt://[USER@]HOST[:PORT]/PREFIX (PREFIX ending\n"
               "                     in '+': every meter of a lab), with the --mqtt-... options below.\n"
               "                     Several meters' files or folders are shown side by side on one\n"
               "                     time axis, each named by its port or file, or LABEL=PATH\n"
               "  --power            with --view: add the power lane of a voltage lane and a current\n"
               "                     lane (readings paired in time), with its energy over the span\n"
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
               "  --mqtt-discovery   Home Assistant discovery configs (retained), with a binary\n"
               "                     sensor per alarm rule\n"
               "%1"
               "                     Each alarm event is a notice in status bar pane 3 and a desktop\n"
               "                     notification; the window's title is marked while a rule fires;\n"
               "                     SET > Alarms... lists the rules and adds or removes some for this\n"
               "                     run (nothing is kept).\n"
               "                     With the journal each event is also a row of NAME.events.csv\n"
               "                     beside it, with --mqtt the retained PREFIX/alarm/NAME\n"
               "  --version          show the program's version\n"
               "  --help             show this text\n\n"
               "Without arguments the first serial port found is chosen; PORT SET changes it.\n"
               "Every reading shown in the table is also written to a journal file (one CSV file per\n"
               "run of the table, named by its start time), so a crash does not lose the run.\n")
        .arg(QString::fromStdString(AlarmUsage(21)));
}

} // namespace zelvox
