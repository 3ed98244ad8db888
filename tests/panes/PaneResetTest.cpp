// RESET brings the table, the gauge and the graph back to their first state together.
#include "DispatchOrder.h"

#include <QLabel>
#include <QLineEdit>
#include <gtest/gtest.h>
#include <memory>

using namespace zelvox;
using namespace zelvox::testing;

TEST(PaneReset, AllThreePanesReturnToTheirStartState) {
    PaneHub hub;
    auto table = std::make_unique<ReadingsTable>(&hub);
    auto gauge = std::make_unique<NeedleGauge>(&hub);
    auto graph = std::make_unique<TrendGraph>(&hub);
    table->resize(480, 279);
    gauge->resize(410, 227);
    graph->resize(450, 279);
    hub.data = table.get();
    hub.gauge = gauge.get();
    hub.graph = graph.get();
    table->InitialUpdate();
    gauge->InitialUpdate();
    graph->InitialUpdate();
    const QImage freshPlot = Grab(*graph);
    const QImage freshGauge = Grab(*gauge);

    for (int i = 0; i < 500; ++i)
        Dispatch(hub, Reading{i / 10.0, 1, 27});
    ASSERT_EQ(graph->pageCount(), 2);
    ASSERT_NE(Grab(*graph), freshPlot);
    ASSERT_NE(Grab(*gauge), freshGauge);

    ResetPanes(hub);
    EXPECT_EQ(table->RowCount(), 0);
    EXPECT_EQ(gauge->gaugeScale(), 0);
    EXPECT_EQ(gauge->gaugeValue(), 0.0);
    EXPECT_EQ(graph->pageCount(), 0);
    EXPECT_EQ(graph->currentPage(), 0);
    EXPECT_EQ(graph->trendFunction(), 0);
    EXPECT_EQ(graph->trendScale(), 1);
    EXPECT_EQ(graph->findChild<QLineEdit*>("1024")->text(), "0");
    EXPECT_EQ(graph->findChild<QLabel*>("1023")->text(), "/0");
    EXPECT_EQ(Grab(*graph), freshPlot);
    EXPECT_EQ(Grab(*gauge), freshGauge);

    // The next reading opens a new run: row 0, page 1 of 1, one pixel at the left.
    Dispatch(hub, Reading{2.0, 1, 1});
    EXPECT_EQ(table->RowCount(), 1);
    EXPECT_EQ(table->CellText(0, 0), "0");
    EXPECT_EQ(graph->pageCount(), 1);
    EXPECT_EQ(graph->currentPage(), 1);
    EXPECT_EQ(Pixel(Grab(*graph), 50, 76), kRed);
}
