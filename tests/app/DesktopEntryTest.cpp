// The installed desktop entry starts the program where the installed help file is, so that
// HELP -> HelpTopic finds Zelvox.chm when the program is started from the application menu.
#include "app/StagedInstall.h"
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(DesktopEntry, StartsTheProgramInTheFolderOfTheInstalledHelpFile) {
    QTemporaryDir stage;
    ASSERT_TRUE(stage.isValid());
    // Installed into a staging folder for the prefix /opt/zelvox-check, as a package is built.
    const QString failed = zelvox::testing::InstallStaged(stage.path(), QStringLiteral("desktop"),
                                                          QStringLiteral("/opt/zelvox-check"));
    ASSERT_TRUE(failed.isEmpty()) << failed.toStdString();

    QFile entry(stage.path() + QStringLiteral("/opt/zelvox-check/share/applications/zelvox.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n'));
    EXPECT_TRUE(lines.contains(QStringLiteral("Exec=zelvox")));
    const QStringList paths = lines.filter(QStringLiteral("Path="));
    ASSERT_EQ(paths.size(), 1);
    EXPECT_EQ(paths[0], QStringLiteral("Path=/opt/zelvox-check/share/zelvox"));
    EXPECT_TRUE(QFile::exists(stage.path() + paths[0].mid(5) + QStringLiteral("/Zelvox.chm")));
}
