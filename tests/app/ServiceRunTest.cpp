// The logger service as installed, run without systemd: the unit's Environment= and
// ExecStart= with a settings file made from example.conf, against the simulated meter, its
// output appended to a log file as systemd's StandardOutput=append: does; and the logrotate
// rule run by logrotate on that log while the logger writes.
#include "app/StagedInstall.h"
#include "record/ReadingRecord.h"
#include "support/Broker.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>

namespace {

using zelvox::testing::Broker;
using zelvox::testing::Subscriber;

const QString kPrefix = QStringLiteral("/opt/zelvox-check");

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool WriteText(const QString& path, const QString& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(text.toUtf8()) == text.toUtf8().size();
}

// The logger package installed into a staging folder, its unit read back; a scratch folder.
struct StagedLogger {
    QTemporaryDir stage, tmp;
    const QDir dir{tmp.path()};
    QString error, environment, execStart, root;

    StagedLogger() {
        error = tmp.isValid()
                    ? zelvox::testing::InstallStaged(stage.path(), QStringLiteral("logger"), kPrefix)
                    : QStringLiteral("no scratch folder");
        root = stage.path() + kPrefix;
        const QString unit = ReadText(root + QStringLiteral("/lib/systemd/system/zelvox-decode@.service"));
        const auto value = [&](const char* key) {
            return QRegularExpression(QStringLiteral("^%1=(.*)$").arg(QLatin1String(key)),
                                      QRegularExpression::MultilineOption)
                .match(unit)
                .captured(1);
        };
        environment = value("Environment");
        // The program named by the unit is the staged one.
        execStart =
            value("ExecStart").replace(kPrefix + QStringLiteral("/bin/"), root + QStringLiteral("/bin/"));
        if (error.isEmpty() && (environment.isEmpty() || execStart.isEmpty()))
            error = QStringLiteral("the unit has no Environment= or ExecStart=:\n") + unit;
    }

    // Starts the unit's command line for the port, with the unit's environment and then the
    // settings file's, as systemd gives them; standard output appended to log.
    void Start(QProcess& logger, const QString& port, const QString& conf, const QString& log,
               const QString& stateDir) const {
        QString command = execStart;
        command.replace(QStringLiteral("%I"), port.mid(5)); // the instance pts-N is /dev/pts/N
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("STATE_DIRECTORY"), stateDir);
        env.insert(QStringLiteral("ZELVOX_CONF"), conf);
        logger.setProcessEnvironment(env);
        logger.setStandardOutputFile(log, QIODevice::Append);
        logger.start(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"), QStringLiteral("export %1; set -a; . \"$ZELVOX_CONF\"; set +a; exec %2")
                                       .arg(environment, command)});
    }
};

// The simulated meter on a pseudo-terminal.
struct Meter {
    QProcess sim;
    QString port;
    explicit Meter(const QStringList& args = {}) {
        sim.start(QStringLiteral(ZELVOX_BINARY_DIR "/tools/zelvox-sim"), args);
        if (sim.waitForStarted() && sim.waitForReadyRead(5000))
            port = QString::fromLocal8Bit(sim.readLine()).trimmed();
    }
    ~Meter() {
        sim.terminate();
        if (!sim.waitForFinished(5000))
            sim.kill();
    }
};

// Ends the logger as systemd stops it (SIGTERM); its exit status.
int Stop(QProcess& logger) {
    ::kill(static_cast<pid_t>(logger.processId()), SIGTERM);
    if (!logger.waitForFinished(10000)) {
        logger.kill();
        logger.waitForFinished(1000);
        return -1;
    }
    return logger.exitStatus() == QProcess::NormalExit ? logger.exitCode() : -1;
}

// The rows of a CSV log after its one header, each checked: six fields, the first a date and
// time. Empty with `why` set when the log is not that.
QStringList CsvRows(const QString& log, QString* why) {
    QStringList lines = log.split(QStringLiteral("\r\n"));
    if (lines.value(0) != QLatin1String("DateTime,Index,Value,Type,Time,Number")) {
        *why = QStringLiteral("no CSV header: ") + log.left(200);
        return {};
    }
    if (!lines.last().isEmpty()) {
        *why = QStringLiteral("an unfinished last line: ") + lines.last();
        return {};
    }
    lines = lines.mid(1, lines.size() - 2);
    for (const QString& line : lines) {
        zelvox::WallTime at;
        if (line.count(u',') != 5 || !zelvox::ParseIsoDateTime(line.section(u',', 0, 0).toStdString(), at)) {
            *why = QStringLiteral("not a timestamped CSV row: ") + line;
            return {};
        }
    }
    return lines;
}

// In dir: a certificate for 127.0.0.1 (ca.crt) and its key, a password file for the user
// "logger" (password) and the broker's (passwords).
bool MakeCredentials(const QDir& dir) {
    return QProcess::execute(
               QStringLiteral("/bin/sh"),
               {QStringLiteral("-c"),
                QStringLiteral(
                    "cd '%1' && openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                    "-addext subjectAltName=IP:127.0.0.1 -keyout broker.key -out ca.crt 2>/dev/null && "
                    "echo secret >password && mosquitto_passwd -b -c passwords logger secret")
                    .arg(dir.path())}) == 0;
}

} // namespace

// example.conf as shipped, then each of its commented examples uncommented in turn, then a
// settings file asking for another format: every time the log is timestamped CSV, and every
// --mqtt example, pointed at a real broker (plain, and TLS with the CA file), delivers.
TEST(ServiceRun, EveryExampleSettingKeepsTheLogCsvAndItsBrokerGetsTheReadings) {
    StagedLogger staged;
    ASSERT_TRUE(staged.error.isEmpty()) << staged.error.toStdString();
    const QDir& dir = staged.dir;
    QString why;
    ASSERT_TRUE(MakeCredentials(dir) && dir.mkdir(QStringLiteral("plain")) &&
                dir.mkdir(QStringLiteral("tls")));
    Broker plain(dir.filePath(QStringLiteral("plain")), {{}, {}, dir.filePath(QStringLiteral("passwords"))});
    Broker tls(dir.filePath(QStringLiteral("tls")),
               {dir.filePath(QStringLiteral("ca.crt")), dir.filePath(QStringLiteral("broker.key")),
                dir.filePath(QStringLiteral("passwords"))});
    std::string brokerWhy;
    ASSERT_TRUE(plain.Start(&brokerWhy)) << brokerWhy;
    ASSERT_TRUE(tls.Start(&brokerWhy)) << brokerWhy;

    const QString example = ReadText(staged.root + QStringLiteral("/etc/zelvox/example.conf"));
    const QRegularExpression commented(QStringLiteral("^#([A-Z_]+=.*)$"),
                                       QRegularExpression::MultilineOption);
    QStringList settings{example};
    for (auto it = commented.globalMatch(example); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QString one = example;
        one.replace(m.capturedStart(), m.capturedLength(), m.captured(1));
        settings << one;
    }
    ASSERT_GE(settings.size(), 3) << "example.conf has no commented examples";
    settings << example + QStringLiteral("ZELVOX_DECODE_EXTRA_OPTIONS=\"--format jsonl\"\n");
    // The example's alarm rules, as its comment shows their file; `true` stands in for its script.
    QString rules;
    const QRegularExpression rule(QStringLiteral("^#     ([a-z]+: .*)$"),
                                  QRegularExpression::MultilineOption);
    for (auto it = rule.globalMatch(example); it.hasNext();)
        rules += it.next().captured(1) + QLatin1Char('\n');
    ASSERT_TRUE(WriteText(dir.filePath(QStringLiteral("alarms")), rules));

    for (int i = 0; i < settings.size(); ++i) {
        SCOPED_TRACE(QStringLiteral("settings %1").arg(i).toStdString());
        // The example's broker, credential and CA file are this test's.
        QString conf = settings[i];
        conf.replace(QStringLiteral("broker.lab:1883"), QStringLiteral("127.0.0.1:%1").arg(plain.Port()))
            .replace(QStringLiteral("broker.lab:8883"), QStringLiteral("127.0.0.1:%1").arg(tls.Port()))
            .replace(QRegularExpression(QStringLiteral("/run/credentials/[^ \"]*")),
                     dir.filePath(QStringLiteral("password")))
            .replace(QRegularExpression(QStringLiteral("/etc/zelvox/[^ \"]*\\.crt")),
                     dir.filePath(QStringLiteral("ca.crt")))
            .replace(QRegularExpression(QStringLiteral("/etc/zelvox/[^ \"]*\\.alarms")),
                     dir.filePath(QStringLiteral("alarms")))
            .replace(QStringLiteral("/etc/zelvox/alarm.sh"), QStringLiteral("true"));
        const QString confPath = dir.filePath(QStringLiteral("%1.conf").arg(i));
        ASSERT_TRUE(WriteText(confPath, conf));
        const QRegularExpressionMatch mqtt =
            QRegularExpression(QStringLiteral("^[^#\\n]*--mqtt (mqtts?)://[^/]*/(\\S+?)[ \"]"),
                               QRegularExpression::MultilineOption)
                .match(conf);
        std::unique_ptr<Subscriber> sub;
        if (mqtt.hasMatch()) {
            const bool secure = mqtt.captured(1) == QLatin1String("mqtts");
            sub = std::make_unique<Subscriber>(secure ? tls.Port() : plain.Port(), "check",
                                               (mqtt.captured(2) + QStringLiteral("/reading")).toStdString(),
                                               secure ? dir.filePath(QStringLiteral("ca.crt")).toStdString()
                                                      : "");
            sub->Login("logger", "secret");
            ASSERT_TRUE(sub->Start());
        }

        Meter meter;
        ASSERT_FALSE(meter.port.isEmpty());
        const QString log = dir.filePath(QStringLiteral("%1.log").arg(i));
        QProcess logger;
        staged.Start(logger, meter.port, confPath, log, dir.filePath(QStringLiteral("state%1").arg(i)));
        ASSERT_TRUE(logger.waitForStarted());
        QThread::msleep(3500);
        ASSERT_EQ(logger.state(), QProcess::Running) << logger.readAllStandardError().toStdString();
        EXPECT_EQ(Stop(logger), 0) << logger.readAllStandardError().toStdString();

        const QStringList rows = CsvRows(ReadText(log), &why);
        EXPECT_GE(rows.size(), 2) << why.toStdString();
        if (sub) {
            EXPECT_TRUE(sub->WaitFor([](const auto& m) { return !m.empty(); }, 10000))
                << "nothing reached the broker of " << mqtt.captured(0).toStdString();
        }
    }
}

// The logrotate rule, run by logrotate itself six times while the unit's command line logs
// every frame of a fast meter. The rule restarts the service after each rename; here a
// systemctl on logrotate's PATH hands the request to this test, which restarts the logger as
// systemd would (SIGTERM, then the command line again on the log's name). Every file, oldest
// first, is then a whole CSV log: one header, rows numbered from 0 without a gap, none cut;
// and together they cover the run.
TEST(ServiceRun, ARotatedLogKeepsEveryLine) {
    StagedLogger staged;
    ASSERT_TRUE(staged.error.isEmpty()) << staged.error.toStdString();
    const QDir& dir = staged.dir;
    ASSERT_TRUE(dir.mkdir(QStringLiteral("log")) && dir.mkdir(QStringLiteral("bin")));
    QString rule = ReadText(staged.root + QStringLiteral("/etc/logrotate.d/zelvox-decode"));
    ASSERT_TRUE(rule.contains(QLatin1String("/var/log/zelvox-decode/*.log"))) << rule.toStdString();
    rule.replace(QStringLiteral("/var/log/zelvox-decode/"), dir.filePath(QStringLiteral("log/")));
    const QString ruleFile = dir.filePath(QStringLiteral("logrotate.conf"));
    ASSERT_TRUE(WriteText(ruleFile, rule));
    ASSERT_TRUE(WriteText(dir.filePath(QStringLiteral("every-frame.conf")),
                          QStringLiteral("ZELVOX_DECODE_OPTIONS=\n")));
    const QString request = dir.filePath(QStringLiteral("request")),
                  done = dir.filePath(QStringLiteral("done"));
    const QString systemctl = dir.filePath(QStringLiteral("bin/systemctl"));
    ASSERT_TRUE(WriteText(systemctl, QStringLiteral("#!/bin/sh\necho \"$*\" >'%1.new' && mv '%1.new' '%1'\n"
                                                    "while [ ! -e '%2' ]; do sleep 0.01; done\nrm -f '%2'\n")
                                         .arg(request, done)));
    QFile::setPermissions(systemctl, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    Meter meter({QStringLiteral("--pace"), QStringLiteral("4")});
    ASSERT_FALSE(meter.port.isEmpty());
    const QString log = dir.filePath(QStringLiteral("log/pts.log"));
    const auto startLogger = [&](QProcess& logger) {
        staged.Start(logger, meter.port, dir.filePath(QStringLiteral("every-frame.conf")), log,
                     dir.filePath(QStringLiteral("state")));
        return logger.waitForStarted();
    };
    auto logger = std::make_unique<QProcess>();
    ASSERT_TRUE(startLogger(*logger));
    const int kRotations = 6;
    for (int i = 0; i < kRotations; ++i) {
        QThread::msleep(500);
        QProcess logrotate;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"),
                   dir.filePath(QStringLiteral("bin:")) + env.value(QStringLiteral("PATH")));
        logrotate.setProcessEnvironment(env);
        logrotate.setProcessChannelMode(QProcess::MergedChannels);
        logrotate.start(QStringLiteral("logrotate"),
                        {QStringLiteral("--force"), QStringLiteral("--state"),
                         dir.filePath(QStringLiteral("state.logrotate")), ruleFile});
        ASSERT_TRUE(logrotate.waitForStarted());
        // systemd's part: the restart the rule asks for.
        for (int wait = 0; wait < 1000 && !QFile::exists(request); ++wait)
            QThread::msleep(10);
        ASSERT_EQ(ReadText(request), QStringLiteral("try-restart zelvox-decode@pts.service\n"));
        QFile::remove(request);
        ASSERT_EQ(Stop(*logger), 0) << logger->readAllStandardError().toStdString();
        logger = std::make_unique<QProcess>();
        ASSERT_TRUE(startLogger(*logger));
        ASSERT_TRUE(WriteText(done, QString()));
        ASSERT_TRUE(logrotate.waitForFinished(10000) && logrotate.exitCode() == 0)
            << logrotate.readAll().toStdString();
    }
    QThread::msleep(300);
    ASSERT_EQ(Stop(*logger), 0) << logger->readAllStandardError().toStdString();

    // Oldest first: pts.log.6.gz ... pts.log.2.gz, pts.log.1 (compressed a day later), pts.log.
    for (int n = kRotations; n >= 0; --n) {
        const QString file = n == 0   ? log
                             : n == 1 ? log + QStringLiteral(".1")
                                      : log + QStringLiteral(".%1.gz").arg(n);
        QProcess zcat;
        zcat.start(QStringLiteral("zcat"), {QStringLiteral("-f"), file});
        ASSERT_TRUE(zcat.waitForFinished(10000) && zcat.exitCode() == 0) << "no log " << n;
        QString why;
        const QStringList rows = CsvRows(QString::fromUtf8(zcat.readAllStandardOutput()), &why);
        ASSERT_GE(rows.size(), 4) << "log " << n << ": " << why.toStdString();
        for (int i = 0; i < rows.size(); ++i)
            ASSERT_EQ(rows[i].section(u',', 1, 1).toInt(), i)
                << "log " << n << ", a line lost before " << rows[i].toStdString();
    }
}
