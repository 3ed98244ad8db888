// The spreadsheet layer and its workbook model: formats, typed input, references, the range
// bounds of SetItem, sheet order, fitting.
#include "ExportTestSupport.h"
#include "export/CellInput.h"
#include "export/SpreadsheetAutomation.h"
#include "export/WorkbookCheck.h"

#include <QBuffer>
#include <QJsonArray>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

using namespace zelvox;
using namespace zelvox::sheet;
using zelvox::testing::ModalWatcher;

namespace {

// What a reader finds in the layer's workbook once it is saved: sheet names, the active sheet,
// and each sheet's cells and column descriptions (read_workbook.py).
const QJsonObject SavedBook(SpreadsheetAutomation& excel) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("book.xlsx"));
    excel.SaveWorkbook(path);
    QString error;
    const QJsonObject book = zelvox::testing::ReadWorkbook(path, &error);
    EXPECT_FALSE(book.isEmpty()) << error.toStdString();
    return book;
}

const QJsonObject SheetCells(const QJsonObject& book, const QString& sheet) {
    return book[QStringLiteral("detail")][sheet][QStringLiteral("cells")].toObject();
}

QJsonArray SheetColumns(const QJsonObject& book, const QString& sheet) {
    return book[QStringLiteral("detail")][sheet][QStringLiteral("columns")].toArray();
}

// The current range spans the whole sheet when its far corner takes a cell and one row more
// does not ("SetItem error", closed by the watcher).
bool RangeIsWholeSheet(SpreadsheetAutomation& excel) {
    ModalWatcher watcher;
    return excel.SetItem(kMaxRows, kMaxColumns, QString()) && !excel.SetItem(kMaxRows + 1, 1, QString()) &&
           watcher.boxes.size() == 1;
}

TEST(SpreadsheetFormats, DecimalAndTextFormats) {
    EXPECT_EQ(SpreadsheetAutomation::DecimalFormat(0), QStringLiteral("0_ "));
    EXPECT_EQ(SpreadsheetAutomation::DecimalFormat(1), QStringLiteral("0.0_ "));
    EXPECT_EQ(SpreadsheetAutomation::DecimalFormat(3), QStringLiteral("0.000_ "));
    EXPECT_EQ(SpreadsheetAutomation::TextFormat(), QStringLiteral("@"));
}

TEST(TypedInput, TextsThatReadAsNumbers) {
    const struct {
        const char16_t* text;
        double number;
    } cases[] = {{u"12", 12},  {u"1.234", 1.234}, {u" -7 ", -7},  {u"+3", 3},
                 {u".5", 0.5}, {u"12.", 12},      {u"1e3", 1000}, {u"-2.5E-1", -0.25},
                 {u"-0", 0},   {u"-12.3", -12.3}, {u"007", 7}};
    for (const auto& c : cases) {
        const auto number = ReadTypedNumber(QString::fromUtf16(c.text));
        ASSERT_TRUE(number.has_value()) << QString::fromUtf16(c.text).toStdString();
        EXPECT_DOUBLE_EQ(*number, c.number) << QString::fromUtf16(c.text).toStdString();
    }
}

TEST(TypedInput, TextsThatStayText) {
    for (const char16_t* text : {u"0L", u"-0L", u"09:05:07:042", u"1.2.3", u"", u"  ", u"inf", u"nan", u"1e",
                                 u"+", u".", u"-", u"0x10", u"1,5", u"DCV V", u"1e999", u"12 3", u"\u0661"})
        EXPECT_FALSE(ReadTypedNumber(QString::fromUtf16(text)).has_value())
            << QString::fromUtf16(text).toStdString();
}

TEST(CellReferences, ParseAndName) {
    const struct {
        const char* text;
        int row, column;
    } good[] = {
        {"A1", 1, 1}, {"b12", 12, 2}, {"$D$4", 4, 4}, {"AA100", 100, 27}, {"XFD1048576", 1048576, 16384}};
    for (const auto& c : good) {
        int row = 0, column = 0;
        ASSERT_TRUE(ParseCellReference(QString::fromLatin1(c.text), &row, &column)) << c.text;
        EXPECT_EQ(row, c.row) << c.text;
        EXPECT_EQ(column, c.column) << c.text;
    }
    for (const char* bad : {"A0", "XFE1", "A1048577", "1A", "A", "", "A1B", "$$A1", "A-1", "Ä1"}) {
        int row = 0, column = 0;
        EXPECT_FALSE(ParseCellReference(QString::fromUtf8(bad), &row, &column)) << bad;
    }
    const struct {
        int column;
        const char* name;
    } names[] = {{1, "A"},   {26, "Z"},   {27, "AA"},   {52, "AZ"},
                 {53, "BA"}, {702, "ZZ"}, {703, "AAA"}, {16384, "XFD"}};
    for (const auto& n : names)
        EXPECT_EQ(ColumnName(n.column), QString::fromLatin1(n.name));
}

TEST(NumberDisplay, UnderFormats) {
    const struct {
        double value;
        const char* format;
        const char* shown;
    } cases[] = {{12, "0_ ", "12 "},
                 {12.6, "0_ ", "13 "},
                 {1.2346, "0.000_ ", "1.235 "},
                 {-0.0004, "0.000_ ", "0.000 "},
                 {-1.5, "0.0_ ", "-1.5 "},
                 {1.5, "General", "1.5"},
                 {1e20, "@", "1E+20"},
                 {0.25, "0.00\"V\"", "0.25V"}};
    for (const auto& c : cases)
        EXPECT_EQ(DisplayNumber(c.value, QString::fromLatin1(c.format)), QString::fromLatin1(c.shown))
            << c.format;
}

TEST(ColumnFitting, WidthsOfTexts) {
    EXPECT_EQ(TextPixelWidth(QStringLiteral("000000000000")), 84);
    EXPECT_LT(TextPixelWidth(QStringLiteral("iiii")), TextPixelWidth(QStringLiteral("MMMM")));
    EXPECT_EQ(TextPixelWidth(QStringLiteral("\u03A9")), TextPixelWidth(QStringLiteral("\u2103")));
    // A fitted column shows the text plus 7 pixels of padding: trunc(7w + 5) pixels.
    for (const int pixels : {10, 37, 84, 300}) {
        const double width = FittedColumnWidth(pixels);
        if (pixels + 7 > 12) {
            EXPECT_NEAR(width * 7 + 5, pixels + 7, 0.05) << pixels;
        }
    }
}

TEST(SpreadsheetLayer, NothingHappensWithoutAnOpenWorkbook) {
    ModalWatcher watcher;
    SpreadsheetAutomation excel;
    excel.AddSheet(QStringLiteral("KX-NOVA"));
    excel.SelectRange(QStringLiteral("A1"), QStringLiteral("B2"));
    excel.SetNumberFormat(QStringLiteral("@"));
    EXPECT_FALSE(excel.SetItem(1, 1, QStringLiteral("x")));
    excel.AutoFitColumns();
    QTemporaryDir dir;
    excel.SaveWorkbook(dir.filePath(QStringLiteral("never.xlsx")));
    excel.Shutdown();
    EXPECT_FALSE(excel.SetItem(1, 1, QStringLiteral("x")));
    excel.SaveWorkbook(dir.filePath(QStringLiteral("after.xlsx")));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("never.xlsx"))));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("after.xlsx"))));
    EXPECT_TRUE(watcher.boxes.empty());
}

TEST(SpreadsheetLayer, AddedSheetGoesBeforeTheActiveOneAndBecomesActive) {
    SpreadsheetAutomation excel;
    ASSERT_TRUE(excel.Open());
    EXPECT_EQ(SavedBook(excel)[QStringLiteral("sheets")], QJsonArray({QStringLiteral("Sheet1")}));
    excel.AddSheet(QStringLiteral("KX-NOVA"));
    excel.AddSheet(QStringLiteral("Second"));
    ASSERT_TRUE(excel.SetItem(1, 1, QStringLiteral("here")));
    const QJsonObject book = SavedBook(excel);
    EXPECT_EQ(book[QStringLiteral("sheets")],
              QJsonArray({QStringLiteral("Second"), QStringLiteral("KX-NOVA"), QStringLiteral("Sheet1")}));
    EXPECT_EQ(book[QStringLiteral("active")], QStringLiteral("Second"));
    EXPECT_EQ(SheetCells(book, QStringLiteral("Second"))[QStringLiteral("A1")][QStringLiteral("value")],
              QStringLiteral("here"));
    EXPECT_TRUE(RangeIsWholeSheet(excel));
}

TEST(SpreadsheetLayer, SheetNamesAWorkbookRefuses) {
    for (const QString& name :
         {QStringLiteral("Sheet1"), QStringLiteral("sheet1"), QString(), QStringLiteral("a/b"),
          QStringLiteral("[x]"), QString(32, u'x'), QStringLiteral("'quoted'")}) {
        SpreadsheetAutomation excel;
        ASSERT_TRUE(excel.Open());
        EXPECT_THROW(excel.AddSheet(name), AutomationFailure) << name.toStdString();
    }
    SpreadsheetAutomation excel;
    ASSERT_TRUE(excel.Open());
    EXPECT_NO_THROW(excel.AddSheet(QString(31, u'x')));
}

TEST(SpreadsheetLayer, SetItemCountsFromTheRangeCornerAndChecksItsBounds) {
    ModalWatcher watcher;
    SpreadsheetAutomation excel;
    ASSERT_TRUE(excel.Open());
    excel.AddSheet(QStringLiteral("KX-NOVA"));
    excel.SelectRange(QStringLiteral("B2"), QStringLiteral("B11"));
    EXPECT_TRUE(excel.SetItem(1, 1, QStringLiteral("first")));
    EXPECT_TRUE(excel.SetItem(10, 1, QStringLiteral("last")));

    const struct { int row, column; } outside[] = {{11, 1}, {1, 2}, {0, 1}, {1, 0}};
    for (const auto& o : outside) {
        watcher.boxes.clear();
        EXPECT_FALSE(excel.SetItem(o.row, o.column, QStringLiteral("no")));
        ASSERT_EQ(watcher.boxes.size(), 1u) << o.row << "," << o.column;
        EXPECT_EQ(watcher.boxes[0].text, QStringLiteral("SetItem error"));
        EXPECT_EQ(watcher.boxes[0].title, QStringLiteral("Zelvox"));
        EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Critical);
    }
    // Only the two cells inside the range were written: nothing at B12, C2 or B1.
    const QJsonObject cells = SheetCells(SavedBook(excel), QStringLiteral("KX-NOVA"));
    EXPECT_EQ(cells[QStringLiteral("B2")][QStringLiteral("value")], QStringLiteral("first"));
    EXPECT_EQ(cells[QStringLiteral("B11")][QStringLiteral("value")], QStringLiteral("last"));
    EXPECT_EQ(cells.size(), 2);
}

TEST(SpreadsheetLayer, RangesAreNormalisedAndBadReferencesFail) {
    SpreadsheetAutomation excel;
    ASSERT_TRUE(excel.Open());
    excel.AddSheet(QStringLiteral("KX-NOVA"));
    excel.SelectRange(QStringLiteral("B5"), QStringLiteral("a2"));
    {
        // A2:B5: four rows, two columns, counted from A2.
        ModalWatcher watcher;
        EXPECT_TRUE(excel.SetItem(1, 1, QStringLiteral("corner")));
        EXPECT_TRUE(excel.SetItem(4, 2, QStringLiteral("far")));
        EXPECT_FALSE(excel.SetItem(5, 1, QStringLiteral("no")));
        EXPECT_FALSE(excel.SetItem(1, 3, QStringLiteral("no")));
    }
    const QJsonObject cells = SheetCells(SavedBook(excel), QStringLiteral("KX-NOVA"));
    EXPECT_EQ(cells[QStringLiteral("A2")][QStringLiteral("value")], QStringLiteral("corner"));
    EXPECT_EQ(cells[QStringLiteral("B5")][QStringLiteral("value")], QStringLiteral("far"));
    EXPECT_EQ(cells.size(), 2);
    EXPECT_THROW(excel.SelectRange(QStringLiteral("A2"), QStringLiteral("A%d")), AutomationFailure);
    excel.SelectAllCells();
    EXPECT_TRUE(RangeIsWholeSheet(excel));
}

TEST(SpreadsheetLayer, TextsAreInterpretedUnderTheFormatAtEntry) {
    SpreadsheetAutomation excel;
    ASSERT_TRUE(excel.Open());
    excel.AddSheet(QStringLiteral("KX-NOVA"));
    excel.SetNumberFormat(SpreadsheetAutomation::TextFormat());
    excel.SetItem(1, 1, QStringLiteral("12")); // A1 under "@"
    excel.SelectRange(QStringLiteral("B2"), QStringLiteral("B4"));
    excel.SetNumberFormat(SpreadsheetAutomation::DecimalFormat(3));
    excel.SetItem(1, 1, QStringLiteral("1.234"));
    excel.SetItem(2, 1, QStringLiteral("0L"));
    excel.SetNumberFormat(SpreadsheetAutomation::TextFormat()); // later formats convert nothing
    excel.SetItem(3, 1, QStringLiteral("5"));

    const QJsonObject book = SavedBook(excel);
    const QJsonObject cells = SheetCells(book, QStringLiteral("KX-NOVA"));
    const struct {
        const char* ref;
        const char* type; // "s" text, "n" number
        QJsonValue value;
        const char* format;
    } expected[] = {{"A1", "s", QStringLiteral("12"), "@"},
                    {"B2", "n", 1.234, "@"},
                    {"B3", "s", QStringLiteral("0L"), "@"},
                    {"B4", "s", QStringLiteral("5"), "@"}};
    for (const auto& e : expected) {
        const QJsonObject cell = cells[QString::fromLatin1(e.ref)].toObject();
        ASSERT_FALSE(cell.isEmpty()) << e.ref;
        EXPECT_EQ(cell[QStringLiteral("type")], QString::fromLatin1(e.type)) << e.ref;
        EXPECT_EQ(cell[QStringLiteral("value")], e.value) << e.ref;
        EXPECT_EQ(cell[QStringLiteral("format")], QString::fromLatin1(e.format)) << e.ref;
    }
    EXPECT_EQ(cells.size(), 4);
    // A cell never formatted on its own follows the whole sheet's format: column G's here.
    bool described = false;
    for (const QJsonValue column : SheetColumns(book, QStringLiteral("KX-NOVA")))
        if (column[QStringLiteral("min")].toInt() <= 7 && column[QStringLiteral("max")].toInt() >= 7) {
            described = true;
            EXPECT_EQ(column[QStringLiteral("format")], QStringLiteral("@"));
        }
    EXPECT_TRUE(described);
}

TEST(SpreadsheetLayer, FittingWidensOnlyColumnsWithContentInTheRange) {
    SpreadsheetAutomation excel;
    ASSERT_TRUE(excel.Open());
    excel.AddSheet(QStringLiteral("KX-NOVA"));
    excel.SetItem(1, 1, QStringLiteral("Index"));
    excel.SetItem(2, 1, QStringLiteral("7"));
    excel.SetItem(1, 2, QStringLiteral("09:05:07:042"));
    excel.SetItem(1, 4, QStringLiteral("x"));
    excel.SelectRange(QStringLiteral("A5"), QStringLiteral("B5")); // whole columns A and B count
    excel.AutoFitColumns();
    // The fitted widths as saved, by column.
    const auto savedWidths = [&] {
        std::map<int, double> widths;
        for (const QJsonValue column : SheetColumns(SavedBook(excel), QStringLiteral("KX-NOVA")))
            if (column[QStringLiteral("custom")].toBool())
                for (int c = column[QStringLiteral("min")].toInt();
                     c <= column[QStringLiteral("max")].toInt(); ++c)
                    widths[c] = column[QStringLiteral("width")].toDouble();
        return widths;
    };
    const std::map<int, double> widths = savedWidths();
    ASSERT_EQ(widths.size(), 2u);
    ASSERT_TRUE(widths.count(1) && widths.count(2));
    // A saved width counts the whole column in 7-pixel digits: the text plus 7 pixels of padding.
    EXPECT_NEAR(widths.at(2) * 7, TextPixelWidth(QStringLiteral("09:05:07:042")) + 7, 0.05);
    EXPECT_GT(widths.at(2), 10.0); // nine digits and three colons
    EXPECT_LT(widths.at(1), widths.at(2));
    excel.SelectAllCells();
    excel.AutoFitColumns();
    EXPECT_EQ(savedWidths().size(), 3u); // D now; C has nothing to show
}

TEST(SpreadsheetLayer, CellsEnteredInAnyOrderAreSavedRowByRow) {
    // Out of order, overwritten, emptied, around a formatted range: what a reader sees must be
    // the last entry of each cell under its format, whatever order the writer streams them in.
    SpreadsheetAutomation excel;
    ASSERT_TRUE(excel.Open());
    excel.AddSheet(QStringLiteral("KX-NOVA"));
    excel.SelectRange(QStringLiteral("B3"), QStringLiteral("B6"));
    excel.SetNumberFormat(SpreadsheetAutomation::DecimalFormat(1));
    excel.SelectAllCells();
    for (const auto& [row, column, text] : std::vector<std::tuple<int, int, const char*>>{{5, 2, "5"},
                                                                                          {3, 2, "3"},
                                                                                          {4, 2, "x"},
                                                                                          {6, 2, "6"},
                                                                                          {4, 2, "4"},
                                                                                          {2, 2, "two"},
                                                                                          {7, 2, "7"},
                                                                                          {1, 3, "c1"},
                                                                                          {6, 2, ""},
                                                                                          {8, 1, "8"}})
        excel.SetItem(row, column, QString::fromLatin1(text));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("order.xlsx"));
    excel.SaveWorkbook(path);
    QString error;
    const QJsonObject book = zelvox::testing::ReadWorkbook(path, &error);
    const QJsonObject cells =
        book[QStringLiteral("detail")][QStringLiteral("KX-NOVA")][QStringLiteral("cells")].toObject();
    // A value, not a reference into the temporary object.
    const auto value = [&](const char* ref) -> QJsonValue {
        return cells[QString::fromLatin1(ref)].toObject()[QStringLiteral("value")];
    };
    const auto format = [&](const char* ref) {
        return cells[QString::fromLatin1(ref)].toObject()[QStringLiteral("format")].toString();
    };
    EXPECT_EQ(value("B2"), QJsonValue(QStringLiteral("two"))) << error.toStdString();
    EXPECT_EQ(value("B3"), QJsonValue(3));
    EXPECT_EQ(value("B4"), QJsonValue(4));
    EXPECT_EQ(value("B5"), QJsonValue(5));
    EXPECT_EQ(value("B6"), QJsonValue(QJsonValue::Null)); // emptied: a formatted blank
    EXPECT_EQ(format("B6"), QStringLiteral("0.0_ "));
    EXPECT_EQ(value("B7"), QJsonValue(7));
    EXPECT_EQ(format("B7"), QStringLiteral("General"));
    EXPECT_EQ(value("C1"), QJsonValue(QStringLiteral("c1")));
    EXPECT_EQ(value("A8"), QJsonValue(8));
    EXPECT_EQ(cells.size(), 8);
}

TEST(SpreadsheetLayer, InitErrorWhenTheWriterHasNoScratchSpace) {
    QTemporaryDir dir;
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", zelvox::testing::UncreatablePath(dir, QStringLiteral("tmp")).toLocal8Bit());
    ModalWatcher watcher;
    SpreadsheetAutomation excel;
    const bool opened = excel.Open();
    if (saved.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", saved);
    EXPECT_FALSE(opened);
    EXPECT_FALSE(excel.SetItem(1, 1, QStringLiteral("x"))); // no workbook: nothing to enter into
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(watcher.boxes[0].text, QStringLiteral("EXCEL init error!"));
    EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Critical);
}

TEST(WorkbookPackage, CompletePackagePassesDamagedOnesDoNot) {
    QTemporaryDir dir;
    SpreadsheetAutomation excel;
    ASSERT_TRUE(excel.Open());
    excel.AddSheet(QStringLiteral("KX-NOVA"));
    for (int row = 1; row <= 300; ++row)
        excel.SetItem(row, 1, QStringLiteral("text %1").arg(row));
    const QString path = dir.filePath(QStringLiteral("book.xlsx"));
    excel.SaveWorkbook(path);
    ASSERT_TRUE(QFile::exists(path));
    const QByteArray good = zelvox::testing::ReadAll(path);
    const auto check = [](QByteArray bytes, std::vector<int> lastRows, QString* problem) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        return CheckWorkbookPackage(buffer, lastRows, problem);
    };
    QString problem;
    EXPECT_TRUE(check(good, {300, 0}, &problem)) << problem.toStdString();
    // Complete and with every CRC right, but not ending where the writer said it would.
    EXPECT_FALSE(check(good, {299, 0}, &problem));
    EXPECT_EQ(problem, QStringLiteral("part xl/worksheets/sheet1.xml is incomplete"));

    const struct {
        const char* what;
        QByteArray bytes;
    } damaged[] = {
        {"cut short", good.left(good.size() - 30)},
        {"half", good.left(good.size() / 2)},
        {"empty", QByteArray()},
        {"not a zip", QByteArray(4000, 'x')},
        {"flipped byte in the sheet's data",
         [&] {
             QByteArray b = good;
             // The first occurrence of the name is the part's local header; its data follows.
             const qsizetype at = b.indexOf("xl/worksheets/sheet1.xml") + 100;
             b[at] = char(b[at] ^ 0x5A);
             return b;
         }()},
    };
    for (const auto& d : damaged) {
        problem.clear();
        EXPECT_FALSE(check(d.bytes, {300, 0}, &problem)) << d.what;
        EXPECT_FALSE(problem.isEmpty()) << d.what;
    }
}

} // namespace
