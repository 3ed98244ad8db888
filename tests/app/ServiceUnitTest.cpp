// The installed logger service names the installed program, reads its settings where the
// example is installed and appends to the folder that its tmpfiles.d rule makes and its
// logrotate rule rotates: for the package's prefix /usr (system folders) and for any other
// prefix (everything under it).
#include "app/StagedInstall.h"
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Layout {
    const char* name;
    const char* prefix;
    const char* unitDir;
    const char* confDir;
    const char* logrotateDir;
};

void PrintTo(const Layout& layout, std::ostream* out) {
    *out << "prefix " << layout.prefix;
}

QString ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(file.readAll()) : QString();
}

// The value of the unit's line "key=...", empty when it has none.
QString Value(const QString& unit, const QString& key) {
    const QRegularExpression line(QStringLiteral("^") + key + QStringLiteral("=(.*)$"),
                                  QRegularExpression::MultilineOption);
    return line.match(unit).captured(1);
}

class ServiceUnit : public ::testing::TestWithParam<Layout> {};

TEST_P(ServiceUnit, NamesTheInstalledProgramSettingsAndLogFolder) {
    const Layout& layout = GetParam();
    QTemporaryDir stage;
    ASSERT_TRUE(stage.isValid());
    const QString failed =
        zelvox::testing::InstallStaged(stage.path(), QStringLiteral("logger"), QLatin1String(layout.prefix));
    ASSERT_TRUE(failed.isEmpty()) << failed.toStdString();

    const QString prefix = QLatin1String(layout.prefix);
    const QString unit =
        ReadAll(stage.path() + QLatin1String(layout.unitDir) + QStringLiteral("/zelvox-decode@.service"));
    ASSERT_FALSE(unit.isEmpty()) << "no unit in " << layout.unitDir;
    EXPECT_TRUE(Value(unit, QStringLiteral("ExecStart"))
                    .startsWith(prefix + QStringLiteral("/bin/zelvox-decode --port %I ")));
    EXPECT_EQ(Value(unit, QStringLiteral("EnvironmentFile")),
              QStringLiteral("-%1/%i.conf").arg(QLatin1String(layout.confDir)));
    EXPECT_TRUE(
        QFile::exists(stage.path() + QLatin1String(layout.confDir) + QStringLiteral("/example.conf")));

    // The folder of the log file is the one the tmpfiles.d rule makes.
    const QString output = Value(unit, QStringLiteral("StandardOutput"));
    ASSERT_TRUE(output.startsWith(QStringLiteral("append:"))) << output.toStdString();
    const QString logDir = output.mid(7).section(QLatin1Char('/'), 0, -2);
    const QString rule =
        ReadAll(stage.path() + prefix + QStringLiteral("/lib/tmpfiles.d/zelvox-decode.conf"));
    EXPECT_TRUE(rule.contains(
        QRegularExpression(QStringLiteral("^d ") + QRegularExpression::escape(logDir) + QStringLiteral(" "),
                           QRegularExpression::MultilineOption)))
        << rule.toStdString();
    const QString rotation =
        ReadAll(stage.path() + QLatin1String(layout.logrotateDir) + QStringLiteral("/zelvox-decode"));
    EXPECT_TRUE(rotation.contains(QRegularExpression(
        QStringLiteral("^") + QRegularExpression::escape(logDir) + QStringLiteral("/\\*\\.log \\{$"),
        QRegularExpression::MultilineOption)))
        << rotation.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Prefixes, ServiceUnit,
    ::testing::Values(Layout{"Package", "/usr", "/lib/systemd/system", "/etc/zelvox", "/etc/logrotate.d"},
                      Layout{"Other", "/opt/zelvox-check", "/opt/zelvox-check/lib/systemd/system",
                             "/opt/zelvox-check/etc/zelvox", "/opt/zelvox-check/etc/logrotate.d"}),
    [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

} // namespace
