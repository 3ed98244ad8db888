// RESET brings the table, the gauge and the graph back to their first state together.
#include "decode/FunctionCode.h"
#include "res/ControlIds.h"
#include "support/Pictures.h"
#include "support/SessionHub.h"

#include <QLabel>
#include <QLineEdit>
#include <gtest/gtest.h>
#include <memory>

using namespace zelvox;
using namespace zelvox::testing;

TEST(PaneReset, AllThreePanesReturnToTheirStartState) {
    SessionHub hub;
    AllPanes panes(hub);
    ReadingsTable* table = panes.table.get();
    NeedleGauge* gauge = panes.gauge.get();
    TrendGraph* graph = panes.graph.get();
    const QImage freshPlot = Grab(*graph);
    const QImage freshGauge = Grab(*gauge);

    for (int i = 0; i < 500; ++i)
        Dispatch(hub.session, Reading{i / 10.0, 1, kKiloRpm});
    ASSERT_EQ(graph->PageCount(), 2);
    ASSERT_NE(Grab(*graph), freshPlot);
    ASSERT_NE(Grab(*gauge), freshGauge);

    hub.session.Reset(); // the RESET button's command
    EXPECT_EQ(table->RowCount(), 0);
    EXPECT_EQ(gauge->gaugeScale(), 0);
    EXPECT_EQ(gauge->gaugeValue(), 0.0);
    EXPECT_EQ(graph->PageCount(), 0);
    EXPECT_EQ(graph->CurrentPage(), 0);
    EXPECT_EQ(graph->TrendFunction(), 0);
    EXPECT_EQ(graph->CurrentScale(), 1);
    EXPECT_EQ(graph->findChild<QLineEdit*>(ControlName(kPageBox))->text(), "0");
    EXPECT_EQ(graph->findChild<QLabel*>(ControlName(kPageTotal))->text(), "/0");
    EXPECT_EQ(Grab(*graph), freshPlot);
    EXPECT_EQ(Grab(*gauge), freshGauge);

    // The next reading opens a new run: row 0, page 1 of 1, one pixel at the left.
    Dispatch(hub.session, Reading{2.0, 1, kDcVolt});
    EXPECT_EQ(table->RowCount(), 1);
    EXPECT_EQ(table->CellText(0, 0), "0");
    EXPECT_EQ(graph->PageCount(), 1);
    EXPECT_EQ(graph->CurrentPage(), 1);
    EXPECT_EQ(Pixel(Grab(*graph), 50, 76), kRed);
}
