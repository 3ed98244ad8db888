// The trend graph: y mapping, labels, pages and page buttons, hover hints, and the composed plot.
#include "support/Pictures.h"
#include "support/SessionHub.h"

#include "decode/FunctionCode.h"
#include "panes/ScaleTable.h"
#include "res/ControlIds.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>
#include <memory>

using namespace zelvox;
using namespace zelvox::testing;

namespace {

// A graph wired to the hub's session, as the main window wires it.
std::unique_ptr<TrendGraph> WiredGraph(SessionHub& hub, int width = 450) {
    auto graph = MakeGraph(hub, width);
    ConnectPanes(hub.session, SessionPanes{nullptr, graph.get(), nullptr});
    return graph;
}

QString BoxText(TrendGraph& graph) {
    return graph.findChild<QLineEdit*>(ControlName(kPageBox))->text();
}
QString TotalText(TrendGraph& graph) {
    return graph.findChild<QLabel*>(ControlName(kPageTotal))->text();
}
void Click(TrendGraph& graph, int id) {
    graph.findChild<QPushButton*>(ControlName(id))->click();
}

// Stores n readings of one function as consecutive dispatches would.
void Feed(SessionHub& hub, int n, double value = 1.0, std::uint8_t functionCode = 1) {
    for (int i = 0; i < n; ++i)
        Dispatch(hub.session, Reading{value, 1, functionCode});
}

int CountRed(const QImage& image, const QRect& area) {
    int red = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            red += Pixel(image, x, y) == kRed;
    return red;
}

bool DarkIn(const QImage& image, const QRect& area) {
    for (int y = std::max(0, area.top()); y <= area.bottom(); ++y)
        for (int x = std::max(0, area.left()); x <= area.right(); ++x)
            if (qGray(image.pixel(x, y)) < 100)
                return true;
    return false;
}

} // namespace

TEST(TrendGraphMapping, ValuesToRows) {
    struct Case {
        double value;
        int base, halfHeight;
        double fullScale;
        int y;
    };
    const Case cases[] = {
        {3.0, 100, 100, 6, 50},      {-6.0, 100, 100, 6, 200},       {7.0, 100, 100, 6, -16},
        {0.0, 100, 100, 6, 100},     {1.0, 100, 100, 6, 83},         {-1.0, 100, 100, 6, 116},
        {kOverload, 100, 100, 6, 0}, {-kOverload, 100, 100, 6, 200}, {90.0, 200, 100, 180, 100},
        {0.0, 200, 100, 180, 200},   {kOverload, 200, 100, 180, 0},  {-kOverload, 200, 100, 180, 200},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TrendGraph::TraceY(c.value, c.base, c.halfHeight, c.fullScale), c.y) << "value " << c.value;
    // The previous value of a segment is always mapped linearly, overload or not.
    EXPECT_LT(TrendGraph::LinearY(kOverload, 100, 6), -1000000);
    EXPECT_GT(TrendGraph::LinearY(-kOverload, 100, 3), 1000000);
}

TEST(TrendGraphLabels, CentreZeroAndUnipolar) {
    const char* row1[] = {"6.0", "4.8", "3.6", "2.4", "1.2", "0.0", "-1.2", "-2.4", "-3.6", "-4.8", "-6.0"};
    const char* angle[] = {"180.0", "162.0", "144.0", "126.0", "108.0", "90.0",
                           "72.0",  "54.0",  "36.0",  "18.0",  "0.0"};
    for (int i = 0; i <= 10; ++i) {
        EXPECT_EQ(TrendGraph::AxisLabel(0, 1, i), row1[i]) << i;
        EXPECT_EQ(TrendGraph::AxisLabel(26, 35, i), angle[i]) << i;
    }
    EXPECT_EQ(TrendGraph::AxisLabel(27, 36, 0), "10.0"); // kRPM .1: 0 .. 10
    EXPECT_EQ(TrendGraph::AxisLabel(23, 39, 10), "-2000.0");
}

TEST(TrendGraphPages, FollowTheNewestPageOnlyFromTheLastPage) {
    SessionHub hub;
    auto graph = WiredGraph(hub, 446);
    ASSERT_EQ(graph->PageSize(), 396);
    EXPECT_EQ(BoxText(*graph), "0");
    EXPECT_EQ(TotalText(*graph), "/0");

    Feed(hub, 1); // a new run: page 1 of 1
    EXPECT_EQ(graph->PageCount(), 1);
    EXPECT_EQ(graph->CurrentPage(), 1);
    EXPECT_EQ(BoxText(*graph), "1");
    EXPECT_EQ(TotalText(*graph), "/1");

    Feed(hub, 394); // 395 stored: still one page
    EXPECT_EQ(graph->PageCount(), 1);
    Feed(hub, 1); // 396 stored: page 2 opens and the user on page 1 follows
    EXPECT_EQ(graph->PageCount(), 2);
    EXPECT_EQ(graph->CurrentPage(), 2);
    EXPECT_EQ(BoxText(*graph), "2");
    EXPECT_EQ(TotalText(*graph), "/2");

    Click(*graph, kFirstPageButton); // first page; stays there while the run grows
    EXPECT_EQ(graph->CurrentPage(), 1);
    Feed(hub, 396);
    EXPECT_EQ(graph->PageCount(), 3);
    EXPECT_EQ(graph->CurrentPage(), 1);
    EXPECT_EQ(BoxText(*graph), "1");
    EXPECT_EQ(TotalText(*graph), "/3");

    Click(*graph, kPreviousPageButton); // previous on page 1 keeps it
    EXPECT_EQ(graph->CurrentPage(), 1);
    Click(*graph, kNextPageButton);
    EXPECT_EQ(graph->CurrentPage(), 2);
    EXPECT_EQ(BoxText(*graph), "2");
    Click(*graph, kLastPageButton);
    EXPECT_EQ(graph->CurrentPage(), 3);
    Click(*graph, kNextPageButton); // next on the last page keeps it
    EXPECT_EQ(graph->CurrentPage(), 3);
    EXPECT_EQ(BoxText(*graph), "3");

    Dispatch(hub.session, Reading{2.0, 1, kAcVolt}); // another function: a new run restarts the pages
    EXPECT_EQ(graph->PageCount(), 1);
    EXPECT_EQ(graph->CurrentPage(), 1);
    EXPECT_EQ(TotalText(*graph), "/1");
}

TEST(TrendGraphPages, ButtonsDoNothingBeforeTheFirstReading) {
    SessionHub hub;
    auto graph = WiredGraph(hub);
    for (int id : {kFirstPageButton, kPreviousPageButton, kNextPageButton, kLastPageButton}) {
        Click(*graph, id);
        EXPECT_EQ(graph->CurrentPage(), 0) << id;
        EXPECT_EQ(BoxText(*graph), "0") << id;
    }
}

TEST(TrendGraphPages, NarrowPlotDoesNotDivideByZero) {
    for (int width : {50, 30, 0}) {
        SessionHub hub;
        auto graph = WiredGraph(hub, width);
        EXPECT_EQ(graph->PageSize(), 1);
        Feed(hub, 5);
        EXPECT_EQ(graph->PageCount(), 6) << width; // one reading a page: 5 / 1 + 1
        Grab(*graph);
    }
}

TEST(TrendGraphScale, ChosenFromTheLargerMagnitudeOfMaxAndMin) {
    SessionHub hub;
    auto graph = WiredGraph(hub);
    Dispatch(hub.session, Reading{120.0, 1, kCelsius});
    EXPECT_EQ(graph->CurrentScale(), 54);
    Dispatch(hub.session, Reading{20.0, 1, kCelsius}); // cooler now, but the run reached 120
    EXPECT_EQ(graph->CurrentScale(), 54);
    EXPECT_EQ(graph->TrendFunction(), 23);
    hub.stats().maxValue = 10;
    hub.stats().minValue = -700;
    graph->ShowReading(24, 1);
    EXPECT_EQ(graph->CurrentScale(), 58);
    graph->ShowReading(17, 1); // no row: the graph keeps row 1
    EXPECT_EQ(graph->CurrentScale(), 1);
}

TEST(TrendGraphPlot, GridAxisLabelsAndStrip) {
    SessionHub hub;
    auto graph = WiredGraph(hub); // 450 x 279: plot height 228, zero line at 114
    ASSERT_EQ(graph->PlotWidth(), 450);
    ASSERT_EQ(graph->PlotHeight(), 228);
    ASSERT_EQ(graph->HalfHeight(), 114);
    const QImage image = Grab(*graph);
    const int grid[] = {0, 22, 45, 68, 91, 114, 136, 159, 182, 205, 228};
    for (int y : grid) {
        EXPECT_EQ(Pixel(image, 51, y), kBlue) << "grid line " << y;
        EXPECT_EQ(Pixel(image, 449, y), kBlue) << "grid line " << y;
        EXPECT_EQ(Pixel(image, 200, y + 1), kGrey) << "between grid lines " << y;
    }
    EXPECT_EQ(Pixel(image, 50, 10), kBlue) << "axis";
    EXPECT_EQ(Pixel(image, 50, 227), kBlue) << "axis";
    EXPECT_EQ(Pixel(image, 49, 10), kGrey);
    EXPECT_EQ(Pixel(image, 50, 240), kGrey) << "axis ends at the plot height";
    EXPECT_EQ(Pixel(image, 5, 265), kGrey) << "strip under the plot";
    EXPECT_EQ(Pixel(image, 445, 275), kGrey);
    // Labels end left of the axis, centred on their grid lines (the top one hangs from y = -2).
    EXPECT_TRUE(DarkIn(image, QRect(20, 0, 29, 18))) << "6.0";
    EXPECT_TRUE(DarkIn(image, QRect(20, 108, 29, 20))) << "0.0";
    EXPECT_TRUE(DarkIn(image, QRect(10, 222, 39, 20))) << "-6.0";
    EXPECT_FALSE(DarkIn(image, QRect(0, 60, 49, 3))) << "nothing between labels";
    EXPECT_EQ(CountRed(image, QRect(0, 0, 450, 250)), 0) << "no trace before the first reading";
}

TEST(TrendGraphPlot, TraceSegmentsAndOverloadEdges) {
    SessionHub hub;
    auto graph = WiredGraph(hub);
    Dispatch(hub.session, Reading{3.0, 1, kDcVolt}); // index 0: one pixel at (50, 57)
    QImage image = Grab(*graph);
    EXPECT_EQ(Pixel(image, 50, 57), kRed);
    EXPECT_EQ(CountRed(image, QRect(0, 0, 450, 250)), 1);

    Dispatch(hub.session, Reading{-6.0, 1, kDcVolt}); // from (51, 228) back to (50, 57): half in each column
    image = Grab(*graph);
    EXPECT_EQ(Pixel(image, 51, 228), kRed);
    EXPECT_EQ(Pixel(image, 51, 200), kRed);
    EXPECT_EQ(Pixel(image, 50, 100), kRed);
    EXPECT_NE(Pixel(image, 51, 100), kRed);
    EXPECT_NE(Pixel(image, 50, 200), kRed);

    Dispatch(hub.session, Reading{-kOverload, 1, kDcVolt}); // x = 52: the bottom edge, one pixel
    Dispatch(hub.session, Reading{kOverload, 1, kDcVolt});  // x = 53: the top edge, one pixel
    Dispatch(hub.session, Reading{3.0, 1, kDcVolt}); // x = 54: back from the overload, steeply off the top
    image = Grab(*graph);
    EXPECT_EQ(Pixel(image, 52, 228), kRed);
    EXPECT_EQ(CountRed(image, QRect(52, 0, 1, 228)), 0) << "an overload is a single pixel";
    EXPECT_EQ(Pixel(image, 53, 0), kRed);
    EXPECT_EQ(CountRed(image, QRect(53, 1, 1, 249)), 0);
    EXPECT_EQ(CountRed(image, QRect(54, 0, 1, 58)), 58) << "the segment towards the old overload";
    EXPECT_EQ(CountRed(image, QRect(54, 58, 1, 192)), 0);
    EXPECT_EQ(CountRed(image, QRect(0, 0, 450, 250)), 1 + 171 + 1 + 1 + 58);
}

TEST(TrendGraphPlot, UnipolarAngleAndPagesOfTrace) {
    SessionHub hub;
    auto graph = WiredGraph(hub);
    Dispatch(hub.session, Reading{90.0, 1, kAngle});
    Dispatch(hub.session, Reading{90.0, 1, kAngle});
    QImage image = Grab(*graph);
    EXPECT_EQ(graph->CurrentScale(), 35);
    EXPECT_EQ(Pixel(image, 50, 114), kRed) << "90 on the middle line of 0..180";
    EXPECT_EQ(Pixel(image, 51, 114), kRed);
    EXPECT_TRUE(DarkIn(image, QRect(0, 0, 49, 18))) << "180.0";

    Feed(hub, 398, 0.0, 26); // 400 stored: page 2 holds readings 400.. of the run
    EXPECT_EQ(graph->PageCount(), 2);
    image = Grab(*graph);
    EXPECT_EQ(CountRed(image, QRect(50, 0, 400, 250)), 0) << "page 2 is still empty";
    Dispatch(hub.session, Reading{0.0, 1, kAngle});
    image = Grab(*graph);
    EXPECT_EQ(CountRed(image, QRect(50, 0, 400, 250)), 1);
    EXPECT_EQ(Pixel(image, 50, 228), kRed) << "0 on the bottom line";
    Click(*graph, kFirstPageButton);
    image = Grab(*graph);
    EXPECT_EQ(Pixel(image, 449, 228), kRed) << "page 1 runs to the last column";
    EXPECT_EQ(Pixel(image, 52, 228), kRed);
}

TEST(TrendGraphHints, EachButtonNamesWhatItDoes) {
    SessionHub hub;
    auto graph = WiredGraph(hub);
    QStringList hints;
    for (int id : {kSaveGraphButton, kPrintGraphButton, kFirstPageButton, kPreviousPageButton,
                   kNextPageButton, kLastPageButton}) {
        QPushButton* button = graph->findChild<QPushButton*>(ControlName(id));
        ASSERT_NE(button, nullptr) << id;
        EXPECT_EQ(button->text(), QString());
        EXPECT_FALSE(button->icon().isNull());
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(button, &enter);
        EXPECT_FALSE(hub.status[0].isEmpty()) << id;
        EXPECT_FALSE(hints.contains(hub.status[0])) << id;
        hints << hub.status[0];
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(button, &leave);
        EXPECT_EQ(hub.status[0], QString()) << id;
    }
    // Short hints for the narrow first pane; the full names are the buttons' tooltips.
    EXPECT_EQ(hints[0], "save");
    EXPECT_EQ(hints[1], "print");
    EXPECT_EQ(graph->findChild<QPushButton*>(ControlName(kSaveGraphButton))->toolTip(),
              "save graph as bitmap");
}
