// Replacing files the user may write in a folder the user may not add files to: every export
// rewrites the file in place there. Root writes into any folder, so the exports run in a child
// process as an unprivileged user.
#include "ExportTestSupport.h"
#include "decode/FunctionCode.h"
#include "export/SpreadsheetAutomation.h"
#include "export/TextExport.h"
#include "panes/GraphExport.h"
#include "panes/TrendGraph.h"
#include "session/ReadingsModel.h"
#include "support/Rows.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zelvox;

namespace {

constexpr uid_t kNobody = 65534;
enum ChildExit {
    kDone = 0,
    kCannotDropPrivileges = 70,
    kFolderTakesNewFiles,
    kFoldersOutOfReach,
    kTextFailed,
    kWorkbookFailed,
    kGraphFailed
};

// In the child: drops to `nobody` (when root), checks that the folder refuses new files, then
// runs the three writes. Never returns.
[[noreturn]] void RunExports(const ReadingsModel& readings, const QDir& dir, const QImage& picture) {
    alarm(30); // an error box waiting for an answer would otherwise hang the test
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
        _exit(kCannotDropPrivileges);
    const int probe =
        open(QFile::encodeName(dir.filePath(QStringLiteral("probe"))).constData(), O_CREAT | O_WRONLY, 0644);
    if (probe >= 0)
        _exit(kFolderTakesNewFiles);
    // The files must be writable to this user, and the workbook's scratch folder too.
    if (access(QFile::encodeName(dir.filePath(QStringLiteral("log.txt"))).constData(), W_OK) != 0 ||
        access(QFile::encodeName(QDir::tempPath()).constData(), W_OK | X_OK) != 0)
        _exit(kFoldersOutOfReach);
    QString reason;
    if (!WriteTableText(readings, dir.filePath(QStringLiteral("log.txt")), &reason))
        _exit(kTextFailed);
    try {
        SpreadsheetAutomation excel;
        if (!excel.Open())
            _exit(kWorkbookFailed);
        excel.AddSheet(QStringLiteral("KX-NOVA"));
        excel.SetItem(1, 1, QStringLiteral("Index"));
        excel.SetItem(2, 1, QStringLiteral("7"));
        excel.SaveWorkbook(dir.filePath(QStringLiteral("data.xls")));
    } catch (const AutomationFailure&) {
        _exit(kWorkbookFailed);
    }
    if (!WriteGraphFile(picture, dir.filePath(QStringLiteral("graph.bmp")), nullptr))
        _exit(kGraphFailed);
    _exit(kDone);
}

TEST(ReadOnlyFolder, WritableFilesAreRewrittenInPlace) {
    ReadingsModel readings;
    zelvox::testing::AddRow(readings, 1, kDcVolt, 1.234, {9, 5, 7, 42});
    zelvox::testing::AddRow(readings, 0, kKiloOhm, 999999.0, {14, 30, 0, 250});
    QImage picture(40, kPlotRows, QImage::Format_RGB32);
    picture.fill(QColor(220, 220, 220));

    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QDir dir(scratch.path());
    const QStringList names = {QStringLiteral("log.txt"), QStringLiteral("data.xls"),
                               QStringLiteral("graph.bmp")};
    const QByteArray old(200000, 'o'); // longer than anything written: the rest must go
    const bool root = geteuid() == 0;
    for (const QString& name : names) {
        ASSERT_TRUE(zelvox::testing::WriteAll(dir.filePath(name), old));
        if (root) {
            ASSERT_EQ(chown(QFile::encodeName(dir.filePath(name)).constData(), kNobody, kNobody), 0);
        }
    }
    const QByteArray folder = QFile::encodeName(dir.path());
    if (root) {
        ASSERT_EQ(chown(folder.constData(), kNobody, kNobody), 0);
    }
    ASSERT_EQ(chmod(folder.constData(), 0555), 0);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        RunExports(readings, dir, picture);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(folder.constData(), 0755);
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
    if (WEXITSTATUS(status) == kCannotDropPrivileges) {
        GTEST_SKIP() << "cannot switch to an unprivileged user here";
    }
    if (WEXITSTATUS(status) == kFolderTakesNewFiles) {
        GTEST_SKIP() << "the folder's permissions are not enforced for this user";
    }
    if (WEXITSTATUS(status) == kFoldersOutOfReach) {
        GTEST_SKIP() << "the unprivileged user cannot reach the test folder or "
                     << QDir::tempPath().toStdString();
    }
    ASSERT_EQ(WEXITSTATUS(status), kDone) << "70 + which export failed";

    EXPECT_EQ(zelvox::testing::ReadAll(dir.filePath(names[0])), TableTextBytes(readings));
    EXPECT_EQ(zelvox::testing::ReadAll(dir.filePath(names[2])), GraphBitmapFile(picture));
    QString error;
    const QJsonObject book = zelvox::testing::ReadWorkbook(dir.filePath(names[1]), &error);
    const QJsonObject cells =
        book[QStringLiteral("detail")][QStringLiteral("KX-NOVA")][QStringLiteral("cells")].toObject();
    EXPECT_EQ(cells[QStringLiteral("A2")].toObject()[QStringLiteral("value")].toInt(), 7)
        << error.toStdString();
    EXPECT_EQ(dir.entryList(QDir::Files), (QStringList{names[1], names[2], names[0]})); // nothing else
}

} // namespace
