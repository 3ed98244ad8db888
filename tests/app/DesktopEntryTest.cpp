// The installed desktop part: a menu entry that leaves the working folder alone (so that the
// file dialogs start in the user's folders), the help file where the installed program looks
// for it, and the icon as SVG without text plus PNG at every size.
#include "app/StagedInstall.h"
#include "app/ZelvoxApplication.h"
#include "support/ModalWatcher.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(DesktopEntry, InstallsTheEntryWithoutPathTheHelpBesideTheProgramAndEveryIconSize) {
    QTemporaryDir stage;
    ASSERT_TRUE(stage.isValid());
    // Installed into a staging folder for the prefix /opt/zelvox-check, as a package is built.
    const QString failed = zelvox::testing::InstallStaged(stage.path(), QStringLiteral("desktop"),
                                                          QStringLiteral("/opt/zelvox-check"));
    ASSERT_TRUE(failed.isEmpty()) << failed.toStdString();
    const QString root = stage.path() + QStringLiteral("/opt/zelvox-check");

    const QStringList lines =
        QString::fromUtf8(ReadAll(root + QStringLiteral("/share/applications/zelvox.desktop"))).split(u'\n');
    EXPECT_TRUE(lines.contains(QStringLiteral("Exec=zelvox")));
    EXPECT_TRUE(lines.filter(QStringLiteral("Path=")).isEmpty()) << lines.join(u'\n').toStdString();

    // The program finds the help file from its own folder.
    ASSERT_TRUE(QFile::exists(root + QStringLiteral("/bin/zelvox")));
    const QString dataDir = QDir::cleanPath(root + QStringLiteral("/bin/" ZELVOX_DATA_FROM_BINDIR));
    EXPECT_TRUE(QFile::exists(dataDir + QStringLiteral("/Zelvox.chm"))) << dataDir.toStdString();

    const QByteArray svg = ReadAll(root + QStringLiteral("/share/icons/hicolor/scalable/apps/zelvox.svg"));
    ASSERT_FALSE(svg.isEmpty());
    EXPECT_FALSE(svg.contains("<text")) << "the icon's text depends on the fonts installed";
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QImage png(root + QStringLiteral("/share/icons/hicolor/%1x%1/apps/zelvox.png").arg(size));
        EXPECT_EQ(png.size(), QSize(size, size)) << size;
        // The display's green digits are drawn: some pixel of the image is bright green.
        bool green = false;
        for (int y = 0; y < png.height() && !green; ++y)
            for (int x = 0; x < png.width() && !green; ++x) {
                const QColor c = png.pixelColor(x, y);
                green = c.green() > c.red() + 60 && c.green() > c.blue() + 60;
            }
        EXPECT_TRUE(green) << size;
    }
}

// HelpTopic takes Zelvox.chm from the working folder first, then from the data folder; when
// the file is found but no program can be started to show it, a message box says so.
TEST(HelpTopic, LooksInTheWorkingFolderThenTheDataFolderAndSaysWhenNothingCanShowIt) {
    QTemporaryDir work, data, emptyPath;
    ASSERT_TRUE(work.isValid() && data.isValid() && emptyPath.isValid());
    const QString savedDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path()));
    QFile(data.filePath(QStringLiteral("Zelvox.chm"))).open(QIODevice::WriteOnly);

    using zelvox::ZelvoxApplication;
    EXPECT_EQ(ZelvoxApplication::HelpFilePath(data.path()), data.filePath(QStringLiteral("Zelvox.chm")));
    QFile(work.filePath(QStringLiteral("Zelvox.chm"))).open(QIODevice::WriteOnly);
    EXPECT_EQ(ZelvoxApplication::HelpFilePath(data.path()), work.filePath(QStringLiteral("Zelvox.chm")));
    QFile::remove(work.filePath(QStringLiteral("Zelvox.chm")));
    EXPECT_EQ(ZelvoxApplication::HelpFilePath(work.path()), QString());

    // No program to open it: neither xdg-open nor a browser on the PATH.
    QFile(work.filePath(QStringLiteral("Zelvox.chm"))).open(QIODevice::WriteOnly);
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", emptyPath.path().toLocal8Bit());
    zelvox::testing::ModalWatcher watcher;
    ZelvoxApplication app;
    app.OnHelpTopic();
    qputenv("PATH", savedPath);
    QDir::setCurrent(savedDir);
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_TRUE(watcher.boxes[0].text.contains(work.filePath(QStringLiteral("Zelvox.chm"))))
        << watcher.boxes[0].text.toStdString();
}
