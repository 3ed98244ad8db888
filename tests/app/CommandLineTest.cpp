// Command-line options of the program.
#include "app/ZelvoxApplication.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <tuple>

using namespace zelvox;

TEST(CommandLine, Options) {
    struct Case {
        QStringList args;
        bool demo;
        QString port;
        bool help;
        bool error;
    };
    const Case cases[] = {
        {{"zelvox"}, false, "", false, false},
        {{"zelvox", "--demo"}, true, "", false, false},
        {{"zelvox", "--port", "ttyUSB0"}, false, "ttyUSB0", false, false},
        {{"zelvox", "--port=/dev/serial/by-id/usb-x"}, false, "/dev/serial/by-id/usb-x", false, false},
        {{"zelvox", "--help"}, false, "", true, false},
        {{"zelvox", "--port"}, false, "", false, true},
        {{"zelvox", "--port="}, false, "", false, true},
        {{"zelvox", "--demo", "--port", "ttyS0"}, true, "ttyS0", false, true},
        {{"zelvox", "document.txt"}, false, "", false, true},
        // The alarm options, taken before Qt's parser sees the rest.
        {{"zelvox", "--alarm", "high: above 4.2 V", "--port", "ttyS0"}, false, "ttyS0", false, false},
        {{"zelvox", "--demo", "--alarm"}, false, "", false, true},
        // Options not ours are left for QApplication to take (see below).
        {{"zelvox", "-platform", "offscreen", "--port", "ttyS1", "-reverse"}, false, "", false, true},
    };
    for (const Case& c : cases) {
        const CommandLine options = ParseCommandLine(c.args);
        SCOPED_TRACE(c.args.join(' ').toStdString());
        EXPECT_EQ(options.demo, c.demo);
        EXPECT_EQ(options.port, c.port);
        EXPECT_EQ(options.help, c.help);
        EXPECT_EQ(!options.error.isEmpty(), c.error) << options.error.toStdString();
        EXPECT_EQ(options.otherOptions, c.args.contains(QStringLiteral("-platform")));
    }

    // The journal's options.
    CommandLine o = ParseCommandLine({"zelvox", "--journal-dir", "/tmp/j", "--load=/tmp/j/a.csv", "--demo"});
    EXPECT_TRUE(o.error.isEmpty()) << o.error.toStdString();
    EXPECT_TRUE(o.journal);
    EXPECT_EQ(o.journalDir, "/tmp/j");
    EXPECT_EQ(o.load, "/tmp/j/a.csv");
    EXPECT_TRUE(o.demo);
    o = ParseCommandLine({"zelvox", "--no-journal", "--load", "a b.csv"});
    EXPECT_TRUE(o.error.isEmpty());
    EXPECT_FALSE(o.journal);
    EXPECT_EQ(o.load, "a b.csv");
    // Publishing: --mqtt and its companions, which need it and the journal.
    o = ParseCommandLine({"zelvox", "--mqtt", "mqtt://bench@broker/lab/b1", "--mqtt-discovery",
                          "--mqtt-password-file", "/etc/pw", "--journal-dir", "/tmp/j"});
    EXPECT_TRUE(o.error.isEmpty()) << o.error.toStdString();
    EXPECT_EQ(o.publishing.url, "mqtt://bench@broker/lab/b1");
    EXPECT_EQ(o.publishing.passwordFile, "/etc/pw");
    EXPECT_TRUE(o.publishing.discovery);
    EXPECT_EQ(o.journalDir, "/tmp/j"); // the program's own folder option, not the logger's
    // Only the Run View, of files and folders.
    o = ParseCommandLine({"zelvox", "--view", "/tmp/a.csv", "/var/log/zelvox"});
    EXPECT_TRUE(o.error.isEmpty()) << o.error.toStdString();
    EXPECT_EQ(o.view, (QStringList{"/tmp/a.csv", "/var/log/zelvox"}));
    for (const QStringList& bad :
         {QStringList{"zelvox", "--view"}, QStringList{"zelvox", "--view", "a.csv", "--demo"},
          QStringList{"zelvox", "--port", "ttyUSB0", "--view", "a.csv"},
          QStringList{"zelvox", "--load", "a.csv", "--view", "b.csv"}, QStringList{"zelvox", "--load"},
          QStringList{"zelvox", "--journal-dir="},
          QStringList{"zelvox", "--no-journal", "--journal-dir", "/tmp"}, QStringList{"zelvox", "--mqtt"},
          QStringList{"zelvox", "--mqtt-cafile", "ca.pem"},
          QStringList{"zelvox", "--mqtt", "mqtt://broker/lab", "--no-journal"},
          QStringList{"zelvox", "--alarm", "high: above 4.2", "--view", "b.csv"}})
        EXPECT_FALSE(ParseCommandLine(bad).error.isEmpty()) << bad.join(' ').toStdString();
    EXPECT_TRUE(CommandLineHelp().contains("--demo"));
    for (const char* option : {"--no-journal", "--journal-dir DIR", "--load FILE", "--view PATH...",
                               "--mqtt URL", "--mqtt-password-file FILE"})
        EXPECT_TRUE(CommandLineHelp().contains(QLatin1String(option))) << option;
    EXPECT_TRUE(CommandLineHelp().contains("--port NAME"));
    // Every option's description, the alarm options' too, starts in one column.
    const QStringList lines = CommandLineHelp().section(QStringLiteral("Options:\n"), 1).split('\n');
    for (const QString& line :
         lines.mid(0, lines.indexOf(QRegularExpression(QStringLiteral("^  --help .*"))))) {
        const qsizetype name =
            line.startsWith(QLatin1String("  --")) ? line.indexOf(QLatin1String("  "), 2) : 0;
        const qsizetype text = line.indexOf(QRegularExpression(QStringLiteral("\\S")), name);
        if (name >= 0 && name < 19) { // a longer name is followed by two spaces
            EXPECT_EQ(text, 21) << line.toStdString();
        }
    }
    EXPECT_TRUE(ParseCommandLine({"zelvox", "--version"}).version);
}

TEST(CommandLine, HelpVersionAndMistakesNeedNoDisplay) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    const auto run = [&](const QStringList& args) {
        QProcess zelvox;
        zelvox.setProcessEnvironment(env);
        zelvox.start(QStringLiteral(ZELVOX_BINARY_DIR "/src/zelvox"), args);
        EXPECT_TRUE(zelvox.waitForFinished(10000));
        return std::tuple(zelvox.exitStatus() == QProcess::NormalExit ? zelvox.exitCode() : -1,
                          QString::fromLocal8Bit(zelvox.readAllStandardOutput()),
                          QString::fromLocal8Bit(zelvox.readAllStandardError()));
    };
    auto [code, out, err] = run({QStringLiteral("--help")});
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, CommandLineHelp());
    EXPECT_EQ(err, QString());

    std::tie(code, out, err) = run({QStringLiteral("--version")});
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(out.startsWith(QStringLiteral("zelvox 1."))) << out.toStdString();

    std::tie(code, out, err) = run({QStringLiteral("--port")});
    EXPECT_EQ(code, 2);
    EXPECT_EQ(out, QString());
    EXPECT_EQ(err, QStringLiteral("zelvox: see zelvox --help\nzelvox: Missing value after '--port'.\n"));
    std::tie(code, out, err) = run({QStringLiteral("--bogus")});
    EXPECT_EQ(code, 2);
    EXPECT_EQ(err, QStringLiteral("zelvox: see zelvox --help\nzelvox: Unknown option 'bogus'.\n"));

    // Qt's own options are QApplication's; what it leaves is read again.
    std::tie(code, out, err) = run({"-platform", "offscreen", "-reverse", "--style=fusion", "--version"});
    EXPECT_EQ(code, 0) << err.toStdString();
    EXPECT_TRUE(out.startsWith(QStringLiteral("zelvox 1."))) << out.toStdString();
    std::tie(code, out, err) = run({"-platform", "offscreen", "--bogus"});
    EXPECT_EQ(code, 2);
    EXPECT_TRUE(err.endsWith(QStringLiteral("zelvox: Unknown option 'bogus'.\n"))) << err.toStdString();

    // A broker URL or password file that cannot work: said at once, status 2, no window.
    for (const QStringList& bad :
         {QStringList{"--mqtt", "http://broker/lab"},
          QStringList{"--mqtt", "mqtt://u@broker/lab", "--mqtt-password-file", "/no/such"}}) {
        std::tie(code, out, err) = run(bad);
        EXPECT_EQ(code, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(err.startsWith(QStringLiteral("zelvox: "))) << err.toStdString();
    }
}
