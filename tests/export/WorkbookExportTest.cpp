// "SAVE EXCEL FILE": the saved workbook read back by openpyxl, names, status texts, dialog,
// and the failure paths.
#include "export/WorkbookExport.h"
#include "ExportTestSupport.h"
#include "panes/ReadingsTable.h"
#include "support/Rows.h"

#include <QJsonArray>
#include <gtest/gtest.h>
#include <memory>

using namespace zelvox;
using zelvox::testing::ModalWatcher;
using zelvox::testing::ReadAll;
using zelvox::testing::RecordingHub;

namespace {

const QStringList kProgress = {
    QStringLiteral("3:start to save excel,please wait..."), QStringLiteral("3:finish 25%,please wait..."),
    QStringLiteral("3:finish 50%,please wait..."), QStringLiteral("3:finish 75%,please wait...")};

struct WorkbookExportFixture : zelvox::testing::TableExportFixture {
    QJsonObject Read(const QString& path) {
        QString error;
        QJsonObject book = zelvox::testing::ReadWorkbook(path, &error);
        EXPECT_FALSE(book.isEmpty()) << error.toStdString();
        return book;
    }
    static QJsonObject Cells(const QJsonObject& book, const char* sheet) {
        return book[QStringLiteral("detail")][QString::fromLatin1(sheet)][QStringLiteral("cells")].toObject();
    }
};

// One cell as openpyxl sees it: value (as JSON), data type ('s' text, 'n' number) and format.
void ExpectCell(const QJsonObject& cells, const char* ref, const QJsonValue& value, const char* type,
                const char* format) {
    const QJsonObject cell = cells[QString::fromLatin1(ref)].toObject();
    ASSERT_FALSE(cell.isEmpty()) << ref;
    EXPECT_EQ(cell[QStringLiteral("value")], value) << ref;
    EXPECT_EQ(cell[QStringLiteral("type")].toString(), QString::fromLatin1(type)) << ref;
    EXPECT_EQ(cell[QStringLiteral("format")].toString(), QString::fromLatin1(format)) << ref;
}

TEST_F(WorkbookExportFixture, TenRowsReadBackWithSheetsTypesAndFormats) {
    zelvox::testing::AddRow(table->Model(), 1, 1, 1.234, {9, 5, 7, 42});
    zelvox::testing::AddRow(table->Model(), 0, 12, 999999.0, {14, 30, 0, 250});
    zelvox::testing::AddRow(table->Model(), 3, 23, -12.26, {0, 0, 0, 5});
    for (int i = 3; i < 10; ++i)
        zelvox::testing::AddRow(table->Model(), 2, 17, 50.0 + i, {23, 59, 59, 999});
    ModalWatcher watcher;
    SaveExcelFile(hub.session, hub.ProgressSink(), nullptr, dir.filePath(QStringLiteral("data")));
    EXPECT_TRUE(watcher.boxes.empty());
    EXPECT_EQ(hub.texts, kProgress + QStringList(QStringLiteral("3:save excel file successfully")));

    const QJsonObject book = Read(dir.filePath(QStringLiteral("data.xls")));
    EXPECT_EQ(book[QStringLiteral("sheets")].toArray(),
              QJsonArray({QStringLiteral("KX-NOVA"), QStringLiteral("Sheet1")}));
    EXPECT_EQ(book[QStringLiteral("active")].toString(), QStringLiteral("KX-NOVA"));
    EXPECT_TRUE(Cells(book, "Sheet1").isEmpty());

    const QJsonObject cells = Cells(book, "KX-NOVA");
    ExpectCell(cells, "A1", QStringLiteral("Index"), "s", "@");
    ExpectCell(cells, "B1", QStringLiteral("Value"), "s", "@");
    ExpectCell(cells, "C1", QStringLiteral("Type"), "s", "@");
    ExpectCell(cells, "D1", QStringLiteral("Time"), "s", "@");
    ExpectCell(cells, "A2", 0, "n", "0_ ");
    ExpectCell(cells, "B2", 1.234, "n", "0.000_ ");
    ExpectCell(cells, "C2", QStringLiteral("DCV V"), "s", "@");
    ExpectCell(cells, "D2", QStringLiteral("09:05:07:042"), "s", "@");
    ExpectCell(cells, "A3", 1, "n", "0_ ");
    ExpectCell(cells, "B3", QStringLiteral("0L"), "s", "0.000_ "); // sent like any value, stays text
    ExpectCell(cells, "C3", QStringLiteral("OHM K\u03A9"), "s", "@");
    ExpectCell(cells, "B4", -12.3, "n", "0.000_ ");
    ExpectCell(cells, "C4", QStringLiteral("TMP \u2103"), "s", "@");
    ExpectCell(cells, "D4", QStringLiteral("00:00:00:005"), "s", "@");
    ExpectCell(cells, "A11", 9, "n", "0_ ");
    ExpectCell(cells, "B11", 59, "n", "0.000_ ");
    ExpectCell(cells, "D11", QStringLiteral("23:59:59:999"), "s", "@");
    // The formats reach row 12, one past the data; nothing lies beyond.
    ExpectCell(cells, "A12", QJsonValue::Null, "n", "0_ ");
    ExpectCell(cells, "B12", QJsonValue::Null, "n", "0.000_ ");
    ExpectCell(cells, "C12", QJsonValue::Null, "n", "@");
    ExpectCell(cells, "D12", QJsonValue::Null, "n", "@");
    EXPECT_EQ(cells.size(), 4 * 12);

    // Columns A..D fitted to their widest text; every other column keeps the default width but
    // carries the sheet's text format.
    const QJsonArray columns =
        book[QStringLiteral("detail")][QStringLiteral("KX-NOVA")][QStringLiteral("columns")].toArray();
    ASSERT_EQ(columns.size(), 5);
    double widths[4] = {};
    for (int c = 0; c < 4; ++c) {
        const QJsonObject col = columns[c].toObject();
        EXPECT_EQ(col[QStringLiteral("min")].toInt(), c + 1);
        EXPECT_TRUE(col[QStringLiteral("custom")].toBool());
        EXPECT_EQ(col[QStringLiteral("format")].toString(), QStringLiteral("@"));
        widths[c] = col[QStringLiteral("width")].toDouble();
    }
    EXPECT_EQ(columns[4].toObject()[QStringLiteral("min")].toInt(), 5);
    EXPECT_EQ(columns[4].toObject()[QStringLiteral("max")].toInt(), 16384);
    EXPECT_EQ(columns[4].toObject()[QStringLiteral("format")].toString(), QStringLiteral("@"));
    // "Index" is the widest text of A; "09:05:07:042"-like times of D are wider than all.
    EXPECT_GT(widths[3], widths[0]);
    EXPECT_GT(widths[3], widths[1]);
    EXPECT_GT(widths[3], 10.0);
    EXPECT_LT(widths[3], 14.0);
    EXPECT_GT(widths[0], 4.0);
}

TEST_F(WorkbookExportFixture, EmptyTableHasHeaderAndFormatsOnRowTwo) {
    ModalWatcher watcher;
    SaveExcelFile(hub.session, hub.ProgressSink(), nullptr, dir.filePath(QStringLiteral("empty")));
    EXPECT_EQ(hub.texts, kProgress + QStringList(QStringLiteral("3:save excel file successfully")));
    const QJsonObject cells = Cells(Read(dir.filePath(QStringLiteral("empty.xls"))), "KX-NOVA");
    ExpectCell(cells, "A1", QStringLiteral("Index"), "s", "@");
    ExpectCell(cells, "D1", QStringLiteral("Time"), "s", "@");
    ExpectCell(cells, "A2", QJsonValue::Null, "n", "0_ ");
    ExpectCell(cells, "B2", QJsonValue::Null, "n", "0.000_ ");
    ExpectCell(cells, "C2", QJsonValue::Null, "n", "@");
    ExpectCell(cells, "D2", QJsonValue::Null, "n", "@");
    EXPECT_EQ(cells.size(), 8);
    EXPECT_TRUE(watcher.boxes.empty());
}

TEST_F(WorkbookExportFixture, NameAlwaysGetsXlsAndExistingFileIsReplaced) {
    zelvox::testing::AddRow(table->Model(), 1, 1, 1.234, {9, 5, 7, 42});
    const QString replaced = dir.filePath(QStringLiteral("data.xls"));
    ASSERT_TRUE(zelvox::testing::WriteAll(replaced, "not a workbook"));
    const struct {
        const char* chosen;
        const char* written;
    } cases[] = {{"data", "data.xls"}, {"data.xls", "data.xls.xls"}};
    ModalWatcher watcher;
    for (const auto& c : cases) {
        SaveExcelFile(hub.session, hub.ProgressSink(), nullptr, dir.filePath(QString::fromLatin1(c.chosen)));
        const QJsonObject cells = Cells(Read(dir.filePath(QString::fromLatin1(c.written))), "KX-NOVA");
        ExpectCell(cells, "B2", 1.234, "n", "0.000_ ");
    }
    EXPECT_TRUE(watcher.boxes.empty());
    EXPECT_TRUE(watcher.dialogs.empty());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2); // no temporary files left
}

TEST_F(WorkbookExportFixture, AcquisitionIsPausedFromStartToSuccess) {
    zelvox::testing::AddRow(table->Model(), 1, 1, 1.234, {9, 5, 7, 42});
    SaveExcelFile(hub.session, hub.ProgressSink(), nullptr, dir.filePath(QStringLiteral("paused")));
    EXPECT_EQ(hub.pausedAt, (std::vector<int>{1, 1, 1, 1, 1}));
    EXPECT_FALSE(hub.session.Paused());
}

TEST_F(WorkbookExportFixture, DialogAndCancel) {
    zelvox::testing::AddRow(table->Model(), 1, 1, 1.234, {9, 5, 7, 42});
    ModalWatcher watcher;
    SaveExcelFile(hub.session, hub.ProgressSink(), nullptr, QString());
    SaveExcelFileCommand(hub.session, hub.ProgressSink(), nullptr); // rejected by the watcher
    ASSERT_EQ(watcher.dialogs.size(), 1u);
    EXPECT_EQ(watcher.dialogs[0].nameFilters, QStringList(QStringLiteral("EXCEL(*.xls)")));
    EXPECT_FALSE(watcher.dialogs[0].confirmsOverwrite);
    EXPECT_TRUE(hub.texts.isEmpty());
    EXPECT_TRUE(watcher.boxes.empty());
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());

    watcher.onFileDialog = zelvox::testing::ChoosePath(dir.filePath(QStringLiteral("chosen")));
    SaveExcelFileCommand(hub.session, hub.ProgressSink(), nullptr);
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("chosen.xls"))));
}

TEST_F(WorkbookExportFixture, UncreatableTargetShowsTheWritersErrorAndTheFailureText) {
    zelvox::testing::AddRow(table->Model(), 1, 1, 1.234, {9, 5, 7, 42});
    const QString chosen = zelvox::testing::UncreatablePath(dir, QStringLiteral("data"));
    ModalWatcher watcher;
    SaveExcelFile(hub.session, hub.ProgressSink(), nullptr, chosen);
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(watcher.boxes[0].title, QStringLiteral("Zelvox"));
    // The file the user chose and the reason, with no word of the writer's own format.
    EXPECT_TRUE(watcher.boxes[0].text.startsWith(
        QStringLiteral("The workbook could not be saved as %1:\n").arg(chosen + QStringLiteral(".xls"))))
        << watcher.boxes[0].text.toStdString();
    EXPECT_FALSE(watcher.boxes[0].text.contains(QStringLiteral("xlsx")));
    EXPECT_GT(watcher.boxes[0].text.section(QLatin1Char('\n'), 1).size(), 3) << "a reason follows";
    EXPECT_EQ(hub.texts, kProgress + QStringList(QStringLiteral("3:save excel file error")));
    EXPECT_FALSE(hub.session.Paused());
}

TEST_F(WorkbookExportFixture, FailedSaveKeepsTheOldFileWhole) {
    for (int i = 0; i < 2000; ++i)
        zelvox::testing::AddRow(table->Model(), 1, 1, i * 0.25, {12, i / 60 % 60, i % 60, i % 1000});
    const QString target = dir.filePath(QStringLiteral("keep.xls"));
    const QByteArray old(5000, 'o');
    ASSERT_TRUE(zelvox::testing::WriteAll(target, old));
    ModalWatcher watcher;
    {
        zelvox::testing::FileSizeLimit limit(8192); // the workbook needs several times that
        SaveExcelFile(hub.session, hub.ProgressSink(), nullptr, dir.filePath(QStringLiteral("keep")));
    }
    EXPECT_EQ(ReadAll(target), old);
    ASSERT_EQ(watcher.boxes.size(), 1u);
    // The writer's scratch files hit the limit first; it does not notice, the check after it
    // does, and the box names the scratch folder and the system's reason.
    const QString text = watcher.boxes[0].text;
    EXPECT_TRUE(text.startsWith(QStringLiteral("The workbook could not be written completely")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QDir::tempPath() + QStringLiteral(": File too large"))) << text.toStdString();
    EXPECT_EQ(hub.texts, kProgress + QStringList(QStringLiteral("3:save excel file error")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList(QStringLiteral("keep.xls")));
}

TEST_F(WorkbookExportFixture, TableLargerThanASheetIsRefusedBeforeAnythingIsWritten) {
    constexpr int kRows = 1048575; // one more than fits: rows 2 .. 1,048,576, formats one below
    for (int i = 0; i < kRows; ++i)
        zelvox::testing::AddRow(table->Model(), 1, 1, 0.5, {9, 5, 7, 42});
    const QString target = dir.filePath(QStringLiteral("big.xls"));
    ASSERT_TRUE(zelvox::testing::WriteAll(target, "old"));
    ModalWatcher watcher;
    SaveExcelFile(hub.session, hub.ProgressSink(), nullptr, dir.filePath(QStringLiteral("big")));
    ASSERT_EQ(watcher.boxes.size(), 1u);
    const QString text = watcher.boxes[0].text;
    EXPECT_TRUE(text.contains(QStringLiteral("1048575 rows"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("1048574"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("SAVE TEXT FILE"))) << text.toStdString();
    EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(hub.texts, QStringList(QStringLiteral("3:save excel file error")));
    EXPECT_EQ(ReadAll(target), QByteArray("old"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList(QStringLiteral("big.xls")));
    EXPECT_FALSE(hub.session.Paused());
}

TEST_F(WorkbookExportFixture, InitErrorShowsOnlyItsMessage) {
    zelvox::testing::AddRow(table->Model(), 1, 1, 1.234, {9, 5, 7, 42});
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", zelvox::testing::UncreatablePath(dir, QStringLiteral("tmp")).toLocal8Bit());
    ModalWatcher watcher;
    SaveExcelFile(hub.session, hub.ProgressSink(), nullptr, dir.filePath(QStringLiteral("never")));
    if (saved.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", saved);
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(watcher.boxes[0].text, QStringLiteral("EXCEL init error!"));
    EXPECT_TRUE(hub.texts.isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("never.xls"))));
    EXPECT_FALSE(hub.session.Paused());
}

} // namespace
