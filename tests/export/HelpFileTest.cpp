// The help file: a well-formed HTML manual covering the commands, and the MIME package that makes
// the one name Zelvox.chm open as HTML while other .chm files keep their type.
#include "ExportTestSupport.h"

#include <QCoreApplication>
#include <QMimeDatabase>
#include <QStandardPaths>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

namespace {

const QString kManual = QStringLiteral(ZELVOX_SOURCE_DIR "/docs/help/zelvox-help.html");
const QString kMimePackage = QStringLiteral(ZELVOX_SOURCE_DIR "/docs/zelvox-help-mime.xml");

TEST(HelpFile, ManualIsWellFormedAndCoversEveryCommand) {
    const QByteArray page = zelvox::testing::ReadAll(kManual);
    ASSERT_FALSE(page.isEmpty());
    EXPECT_TRUE(page.startsWith("<!DOCTYPE html>")); // what content sniffing recognises as HTML
    QXmlStreamReader xml(page);
    QString title, text;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("title"))
            title = xml.readElementText();
        else if (xml.isCharacters())
            text += xml.text();
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString() << " at line " << xml.lineNumber();
    EXPECT_EQ(title, QStringLiteral("Zelvox Help"));
    for (const char* label :
         {"SAVE EXCEL FILE", "SAVE TEXT FILE", "Export Graph", "Exit", "PORT SET", "HelpTopic", "START",
          "STOP", "RESET", "EXIT", "FLASH PORT", "dialout", "usermod", "Zelvox.chm", "EXCEL init error!",
          "open port error", "please stop com first", "KX-NOVA"})
        EXPECT_TRUE(text.contains(QString::fromLatin1(label))) << label;
}

// Runs only in a child process (below) whose XDG_DATA_HOME holds the compiled MIME package: Qt's
// MIME database reads its sources once per process.
TEST(HelpFileChild, DISABLED_TypesSeenWithThePackageInstalled) {
    const QString folder = qEnvironmentVariable("ZELVOX_HELP_CHILD_DIR");
    if (folder.isEmpty())
        GTEST_SKIP() << "run by HelpFile.OnlyTheNameZelvoxChmBecomesHtml";
    QMimeDatabase db;
    const auto type = [&](const char* name) {
        return db.mimeTypeForFile(folder + u'/' + QString::fromLatin1(name)).name().toStdString();
    };
    EXPECT_EQ(type("Zelvox.chm"), "text/html");
    EXPECT_EQ(type("other.chm"), "application/vnd.ms-htmlhelp"); // every other name keeps its type
    EXPECT_EQ(type("zelvox.chm"), "application/vnd.ms-htmlhelp");
}

TEST(HelpFile, OnlyTheNameZelvoxChmBecomesHtml) {
    const QString update = QStandardPaths::findExecutable(QStringLiteral("update-mime-database"));
    if (update.isEmpty())
        GTEST_SKIP() << "update-mime-database (shared-mime-info) is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("data/mime/packages"))));
    ASSERT_TRUE(
        QFile::copy(kMimePackage, dir.filePath(QStringLiteral("data/mime/packages/zelvox-help.xml"))));
    ASSERT_EQ(QProcess::execute(update, {dir.filePath(QStringLiteral("data/mime"))}), 0);
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("files"))));
    for (const char* name : {"Zelvox.chm", "other.chm", "zelvox.chm"})
        ASSERT_TRUE(QFile::copy(kManual, dir.filePath(QStringLiteral("files/") + QString::fromLatin1(name))));

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("ZELVOX_HELP_CHILD_DIR"), dir.filePath(QStringLiteral("files")));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=HelpFileChild.DISABLED_TypesSeenWithThePackageInstalled"),
                 QStringLiteral("--gtest_also_run_disabled_tests")});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();
    EXPECT_FALSE(output.contains(QStringLiteral("SKIPPED"))) << output.toStdString();
}

} // namespace
