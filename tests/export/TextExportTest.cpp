// "SAVE TEXT FILE": exact bytes, file names, status texts, the pause, dialog and failures.
#include "export/TextExport.h"
#include "ExportTestSupport.h"
#include "panes/ReadingsTable.h"
#include "support/Rows.h"

#include <gtest/gtest.h>
#include <memory>

using namespace zelvox;
using zelvox::testing::ModalWatcher;
using zelvox::testing::ReadAll;
using zelvox::testing::RecordingHub;

namespace {

struct TextExportFixture : zelvox::testing::TableExportFixture {
    void AddRow(std::uint8_t pointPosition, std::uint8_t functionCode, double value,
                zelvox::testing::ClockTime at = {9, 5, 7, 42}) {
        zelvox::testing::AddRow(table->Model(), pointPosition, functionCode, value, at);
    }
};

QByteArray FromHex(const char* hex) {
    return QByteArray::fromHex(QByteArray(hex));
}

TEST_F(TextExportFixture, ExampleRowIs29CodeUnitsLowByteFirst) {
    AddRow(1, 1, 1.234); // 0, 1.234, "DCV V", 09:05:07:042
    const QByteArray bytes = TableTextBytes(readings());
    // "0\t1.234\tDCV V\t09:05:07:042\t\r\n"
    const QByteArray expected =
        FromHex("3000 0900 3100 2e00 3200 3300 3400 0900 4400 4300 5600 2000 5600 0900"
                "3000 3900 3a00 3000 3500 3a00 3000 3700 3a00 3000 3400 3200 0900 0d00 0a00");
    ASSERT_EQ(bytes.size(), 58);
    EXPECT_EQ(bytes, expected);
    EXPECT_TRUE(bytes.startsWith(FromHex("30000900 31002e00")));
    EXPECT_TRUE(bytes.endsWith(FromHex("0900 0d00 0a00")));
}

TEST_F(TextExportFixture, NonAsciiTypesAreSingleCodeUnits) {
    const struct {
        std::uint8_t functionCode;
        const char* unitBytes; // the last code unit of the Type text
    } cases[] = {{11, "a903"}, {23, "0321"}, {24, "0921"}, {26, "b000"}};
    for (const auto& c : cases) {
        table->Clear();
        AddRow(0, c.functionCode, 5.0);
        const QByteArray bytes = TableTextBytes(readings());
        const QString type = table->CellText(0, 2);
        // The Type field ends right before the third TAB; its last unit is the symbol.
        const qsizetype typeEnd = bytes.size() - 2 * (1 + 12 + 1 + 2);
        EXPECT_EQ(bytes.mid(typeEnd - 2, 2), FromHex(c.unitBytes)) << type.toStdString();
        EXPECT_EQ(bytes.mid(typeEnd, 2), FromHex("0900"));
        EXPECT_EQ(bytes.size(), 2 * (1 + 1 + 1 + 1 + type.size() + 1 + 12 + 1 + 2)) << type.toStdString();
    }
}

TEST_F(TextExportFixture, OneLinePerRowNoHeaderTabAfterEveryField) {
    AddRow(1, 1, 1.234, {9, 5, 7, 42});
    AddRow(0, 12, 999999.0, {14, 30, 0, 250});
    AddRow(3, 23, -12.26, {0, 0, 0, 5});
    SaveTextFile(hub.session, hub.ProgressSink(), nullptr, dir.filePath(QStringLiteral("three")));
    const QByteArray bytes = ReadAll(dir.filePath(QStringLiteral("three.txt")));
    const QString text =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2);
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 4); // three lines and what follows the last CR LF
    EXPECT_EQ(lines[0], QStringLiteral("0\t1.234\tDCV V\t09:05:07:042\t"));
    EXPECT_EQ(lines[1], QStringLiteral("1\t0L\tOHM K\u03A9\t14:30:00:250\t"));
    EXPECT_EQ(lines[2], QStringLiteral("2\t-12.3\tTMP \u2103\t00:00:00:005\t"));
    EXPECT_TRUE(lines[3].isEmpty());
}

TEST_F(TextExportFixture, NameAlwaysGetsTxtAndExistingFileIsReplaced) {
    AddRow(1, 1, 1.234);
    const struct {
        const char* chosen;
        const char* written;
    } cases[] = {{"log", "log.txt"}, {"log.txt", "log.txt.txt"}, {"data.TXT", "data.TXT.txt"}};
    for (const auto& c : cases) {
        hub.texts.clear();
        ModalWatcher watcher;
        SaveTextFile(hub.session, hub.ProgressSink(), nullptr, dir.filePath(QString::fromLatin1(c.chosen)));
        EXPECT_EQ(ReadAll(dir.filePath(QString::fromLatin1(c.written))).size(), 58) << c.chosen;
        EXPECT_EQ(hub.texts, QStringList({QStringLiteral("3:start to txt excel,please wait..."),
                                          QStringLiteral("3:save txt file successfully")}));
        EXPECT_TRUE(watcher.boxes.empty());
    }
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("log.txt.txt.txt"))));
    // Saving "log" again replaces log.txt, without a question.
    ASSERT_TRUE(zelvox::testing::WriteAll(dir.filePath(QStringLiteral("log.txt")), QByteArray(1000, 'x')));
    ModalWatcher watcher;
    SaveTextFile(hub.session, hub.ProgressSink(), nullptr, dir.filePath(QStringLiteral("log")));
    EXPECT_EQ(ReadAll(dir.filePath(QStringLiteral("log.txt"))), TableTextBytes(readings()));
    EXPECT_TRUE(watcher.boxes.empty());
    // Nothing but the written files is left in the folder (no temporary files).
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 3);
}

TEST_F(TextExportFixture, EmptyTableGivesAnEmptyFile) {
    SaveTextFile(hub.session, hub.ProgressSink(), nullptr, dir.filePath(QStringLiteral("empty")));
    QFileInfo info(dir.filePath(QStringLiteral("empty.txt")));
    ASSERT_TRUE(info.exists());
    EXPECT_EQ(info.size(), 0);
    EXPECT_EQ(hub.status[3], QStringLiteral("save txt file successfully"));
}

TEST_F(TextExportFixture, AcquisitionIsPausedWhileWritingOnly) {
    AddRow(1, 1, 1.234);
    SaveTextFile(hub.session, hub.ProgressSink(), nullptr, dir.filePath(QStringLiteral("paused")));
    ASSERT_EQ(hub.pausedAt.size(), 2u);
    EXPECT_EQ(hub.pausedAt[0], 1); // raised before the start text
    EXPECT_EQ(hub.pausedAt[1], 0); // lowered before the success text
    EXPECT_FALSE(hub.session.Paused());
}

TEST_F(TextExportFixture, DialogOffersTxtWithoutOverwriteQuestionAndCancelDoesNothing) {
    AddRow(1, 1, 1.234);
    ModalWatcher watcher;
    SaveTextFileCommand(hub.session, hub.ProgressSink(), nullptr); // the watcher rejects the dialog
    ASSERT_EQ(watcher.dialogs.size(), 1u);
    EXPECT_EQ(watcher.dialogs[0].nameFilters, QStringList(QStringLiteral("TXT(*.txt)")));
    EXPECT_FALSE(watcher.dialogs[0].confirmsOverwrite);
    EXPECT_EQ(watcher.dialogs[0].mode, QFileDialog::AcceptSave);
    EXPECT_TRUE(hub.texts.isEmpty());
    EXPECT_TRUE(watcher.boxes.empty());

    // Picking an existing file: no question, ".txt" still appended.
    const QString existing = dir.filePath(QStringLiteral("picked.txt"));
    ASSERT_TRUE(zelvox::testing::WriteAll(existing, "old"));
    watcher.onFileDialog = zelvox::testing::ChoosePath(existing);
    SaveTextFileCommand(hub.session, hub.ProgressSink(), nullptr);
    EXPECT_EQ(ReadAll(existing), QByteArray("old"));
    EXPECT_EQ(ReadAll(existing + QStringLiteral(".txt")), TableTextBytes(readings()));
    EXPECT_TRUE(watcher.boxes.empty());
}

TEST_F(TextExportFixture, UncreatableFileShowsPathAndReasonAndNoSuccess) {
    AddRow(1, 1, 1.234);
    const QString chosen = zelvox::testing::UncreatablePath(dir, QStringLiteral("log"));
    ModalWatcher watcher;
    SaveTextFile(hub.session, hub.ProgressSink(), nullptr, chosen);
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(watcher.boxes[0].title, QStringLiteral("Zelvox"));
    EXPECT_TRUE(watcher.boxes[0].text.contains(chosen + QStringLiteral(".txt")));
    EXPECT_TRUE(watcher.boxes[0].text.contains(QStringLiteral("Not a directory")))
        << watcher.boxes[0].text.toStdString();
    // Neither success nor "please wait" is left in the status bar.
    EXPECT_EQ(hub.texts, QStringList({QStringLiteral("3:start to txt excel,please wait..."),
                                      QStringLiteral("3:save txt file error")}));
}

TEST_F(TextExportFixture, FailedWriteKeepsTheOldFileWhole) {
    for (int i = 0; i < 200; ++i)
        AddRow(1, 1, i * 0.5);
    const QString target = dir.filePath(QStringLiteral("keep.txt"));
    const QByteArray old(3000, 'o');
    ASSERT_TRUE(zelvox::testing::WriteAll(target, old));
    ModalWatcher watcher;
    {
        zelvox::testing::FileSizeLimit limit(4096); // the table needs about 11 KB
        SaveTextFile(hub.session, hub.ProgressSink(), nullptr, dir.filePath(QStringLiteral("keep")));
    }
    EXPECT_EQ(ReadAll(target), old);
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_TRUE(watcher.boxes[0].text.contains(target));
    EXPECT_EQ(hub.status[3], QStringLiteral("save txt file error"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList(QStringLiteral("keep.txt")));
}

} // namespace
