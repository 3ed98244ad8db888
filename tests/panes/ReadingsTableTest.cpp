// The readings table: cell texts, numbering, columns, clearing and scrolling to the newest row.
#include "panes/ReadingsList.h"
#include "res/ControlIds.h"
#include "support/Pictures.h"
#include "support/Rows.h"
#include "support/SessionHub.h"

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

using namespace zelvox;
using namespace zelvox::testing;

TEST(DataTable, CellTexts) {
    struct Case {
        std::uint8_t pointPosition, functionCode;
        double value;
        ClockTime at;
        const char16_t* valueText;
        const char16_t* typeText;
        const char* timeText;
    };
    const Case cases[] = {
        {1, 1, 1.5, {9, 5, 7, 42}, u"1.500", u"DCV V", "09:05:07:042"},
        {3, 2, -12.26, {14, 30, 0, 250}, u"-12.3", u"DCV mV", "14:30:00:250"},
        {0, 12, 7.9, {0, 0, 0, 5}, u"7", u"OHM K\u03A9", "00:00:00:005"},
        {0, 23, -7.9, {23, 59, 59, 999}, u"-7", u"TMP \u2103", "23:59:59:999"},
        {2, 24, 12.345, {10, 10, 10, 10}, u"12.35", u"TMP \u2109", "10:10:10:010"},
        {1, 26, kOverload, {1, 2, 3, 4}, u"0L", u"\u00B0", "01:02:03:004"},
        {0, 0, kOverload, {1, 2, 3, 400}, u"0L", u"no define", "01:02:03:400"},
        {3, 5, -kOverload, {12, 0, 0, 0}, u"-0L", u"DCA A", "12:00:00:000"},
    };
    SessionHub hub;
    auto table = MakeTable(hub);
    for (const Case& c : cases)
        zelvox::testing::AddRow(table->Model(), c.pointPosition, c.functionCode, c.value, c.at);
    ASSERT_EQ(table->RowCount(), static_cast<int>(std::size(cases)));
    for (int row = 0; row < table->RowCount(); ++row) {
        const Case& c = cases[row];
        EXPECT_EQ(table->CellText(row, 0), QString::number(row));
        EXPECT_EQ(table->CellText(row, 1), QString::fromStdU16String(c.valueText)) << "row " << row;
        EXPECT_EQ(table->CellText(row, 2), QString::fromStdU16String(c.typeText)) << "row " << row;
        EXPECT_EQ(table->CellText(row, 3), QString::fromLatin1(c.timeText)) << "row " << row;
        // What the view shows is what the exports read.
        const QModelIndex index = table->List()->model()->index(row, 1);
        EXPECT_EQ(index.data().toString(), table->CellText(row, 1));
    }
    EXPECT_EQ(table->CellText(-1, 0), QString());
    EXPECT_EQ(table->CellText(table->RowCount(), 0), QString());
    EXPECT_EQ(table->CellText(0, 4), QString());
}

TEST(DataTable, ADispatchedRowTakesTheLocalTimeOfItsDispatch) {
    const auto ms = [](const WallTime& t) {
        const WallTime::Fields f = t.LocalFields();
        return ((f.hour * 60 + f.minute) * 60 + f.second) * 1000 + f.millisecond;
    };
    SessionHub hub;
    auto table = MakeTable(hub);
    const WallTime before = WallTimeNow();
    Dispatch(hub.session, {1.0, 1, 1});
    const WallTime after = WallTimeNow();
    const QStringList fields = table->CellText(0, 3).split(':');
    ASSERT_EQ(fields.size(), 4) << table->CellText(0, 3).toStdString();
    const int shown =
        ((fields[0].toInt() * 60 + fields[1].toInt()) * 60 + fields[2].toInt()) * 1000 + fields[3].toInt();
    if (ms(after) < ms(before))
        GTEST_SKIP() << "midnight passed during the test";
    EXPECT_LE(ms(before), shown);
    EXPECT_LE(shown, ms(after));
}

TEST(DataTable, IndexCountsRowsAndRestartsAfterClear) {
    SessionHub hub;
    auto table = MakeTable(hub);
    for (int i = 0; i < 101; ++i)
        zelvox::testing::AddRow(table->Model(), 1, 1, i, {});
    EXPECT_EQ(table->CellText(100, 0), "100");
    EXPECT_EQ(table->CellText(100, 1), "100.000");
    table->Clear();
    EXPECT_EQ(table->RowCount(), 0);
    EXPECT_EQ(table->List()->model()->rowCount(), 0);
    EXPECT_EQ(table->CellText(0, 0), QString());
    zelvox::testing::AddRow(table->Model(), 2, 3, 4.5, {});
    EXPECT_EQ(table->RowCount(), 1);
    EXPECT_EQ(table->CellText(0, 0), "0");
    EXPECT_EQ(table->CellText(0, 1), "4.50");
}

TEST(DataTable, ColumnsAndHeadings) {
    struct Case {
        int width;
        int middle;
    };
    for (const Case c :
         {Case{480, 130}, Case{481, 130}, Case{520, 150}, Case{221, 0}, Case{200, 0}, Case{0, 0}}) {
        SessionHub hub;
        auto table = MakeTable(hub, c.width);
        const QHeaderView* header = table->List()->horizontalHeader();
        ASSERT_EQ(header->count(), 4);
        const int expected[4] = {70, c.middle, c.middle, 150};
        for (int column = 0; column < 4; ++column)
            EXPECT_EQ(header->sectionSize(column), expected[column])
                << "width " << c.width << " column " << column;
        EXPECT_EQ(table->List()->geometry(), QRect(0, 0, c.width, 279));
    }
    SessionHub hub;
    auto table = MakeTable(hub);
    const QAbstractItemModel* model = table->List()->model();
    const char* headings[] = {"Index", "Value", "Type", "Time"};
    for (int column = 0; column < 4; ++column)
        EXPECT_EQ(model->headerData(column, Qt::Horizontal).toString(), headings[column]);
    EXPECT_EQ(table->List()->objectName(), ControlName(kReadingsList));
}

TEST(DataTable, ScrollsToTheNewestRow) {
    SessionHub hub;
    auto table = MakeTable(hub);
    table->show();
    ReadingsList* list = table->List();
    const auto lastRowVisible = [&] {
        QApplication::processEvents();
        const QRect last = list->visualRect(list->model()->index(table->RowCount() - 1, 0));
        return last.isValid() && list->viewport()->rect().contains(last);
    };
    for (int i = 0; i < 200; ++i)
        zelvox::testing::AddRow(table->Model(), 1, 1, i, {});
    EXPECT_TRUE(lastRowVisible());
    EXPECT_GT(list->verticalScrollBar()->value(), 0);

    list->scrollToTop(); // the user scrolls back by hand
    EXPECT_FALSE(lastRowVisible());
    zelvox::testing::AddRow(table->Model(), 1, 1, 200, {});
    EXPECT_TRUE(lastRowVisible());
}

TEST(DataTable, ClicksAndKeysSelectWholeRows) {
    SessionHub hub;
    auto table = MakeTable(hub);
    table->show();
    for (int i = 0; i < 50; ++i)
        zelvox::testing::AddRow(table->Model(), 1, 1, i, {});
    QApplication::processEvents();
    ReadingsList* list = table->List();
    list->scrollToTop();
    const auto centre = [&](int row) { return list->visualRect(list->model()->index(row, 1)).center(); };
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre(2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ShiftModifier, centre(4));
    QModelIndexList rows = list->selectionModel()->selectedRows();
    ASSERT_EQ(rows.size(), 3);
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows.front().row(), 2);
    EXPECT_EQ(rows.back().row(), 4);

    QTest::keyClick(list, Qt::Key_End);
    EXPECT_EQ(list->currentIndex().row(), 49);
    EXPECT_TRUE(list->selectionModel()->isRowSelected(49, {}));
    EXPECT_TRUE(list->viewport()->rect().contains(list->visualRect(list->currentIndex())));
    QTest::keyClick(list, Qt::Key_PageUp);
    EXPECT_EQ(list->currentIndex().row(), 49 - list->VisibleRows());
}
