// Panes repaint only what a reading changes. What the window shows after a run of such partial
// repaints must be what a full repaint shows, and the trend graph's cached plot what a graph
// composing from nothing draws.
#include "ControlPanelSupport.h"
#include "decode/FunctionCode.h"
#include "panes/ReadingsList.h"
#include "panes/SegmentLayout.h"
#include "support/Pictures.h"
#include "support/Rows.h"
#include "support/SessionHub.h"

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <random>

using namespace zelvox;
using namespace zelvox::testing;

namespace {

// What the window system was given for `widget` (its backing store), after pending paints.
QImage OnScreen(QWidget& widget) {
    QApplication::processEvents();
    QApplication::processEvents();
    return widget.screen()->grabWindow(widget.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

// True when the screen matches a full repaint; otherwise says where they first differ.
::testing::AssertionResult ShowsAFullRepaint(QWidget& widget) {
    const QImage screen = OnScreen(widget);
    const QImage full = Grab(widget);
    if (screen.size() != full.size())
        return ::testing::AssertionFailure() << "sizes differ";
    for (int y = 0; y < full.height(); ++y)
        for (int x = 0; x < full.width(); ++x)
            if (Pixel(screen, x, y) != Pixel(full, x, y))
                return ::testing::AssertionFailure()
                       << "first difference at (" << x << ", " << y << "): screen " << std::hex
                       << Pixel(screen, x, y) << ", full repaint " << Pixel(full, x, y);
    return ::testing::AssertionSuccess();
}

// The plot a new graph composes for the state `graph` is in (same history, statistics, page).
QImage FreshPlot(SessionHub& hub, TrendGraph& graph, std::uint8_t pointPosition) {
    TrendGraph fresh(hub.session);
    fresh.resize(graph.size());
    fresh.InitialUpdate();
    if (graph.PageCount() > 0) {
        fresh.RestartPages();
        fresh.UpdatePageCount();
        fresh.LastPage();
        while (fresh.CurrentPage() > graph.CurrentPage())
            fresh.PreviousPage();
        fresh.ShowReading(graph.TrendFunction(), pointPosition);
    }
    EXPECT_EQ(fresh.CurrentScale(), graph.CurrentScale());
    EXPECT_EQ(fresh.CurrentPage(), graph.CurrentPage());
    QImage image(graph.size(), QImage::Format_RGB32);
    QPainter painter(&image);
    fresh.DrawTrend(painter);
    return fresh.PlotImage().copy(0, 0, graph.width(), kPlotRows);
}

} // namespace

TEST(PartialRepaint, TrendGraphCachedPlotAndScreen) {
    SessionHub hub;
    auto graph = MakeGraph(hub);
    ConnectPanes(hub.session, SessionPanes{nullptr, graph.get(), nullptr});
    graph->show();
    std::uint8_t pointPosition = 1;
    const auto feed = [&](int n, double amplitude, std::uint8_t functionCode = kDcVolt) {
        for (int i = 0; i < n; ++i) {
            const double v = i % 53 == 7 ? -kOverload : amplitude * std::sin(i / 9.0);
            Dispatch(hub.session, Reading{v, pointPosition, functionCode});
            if (i % 3 == 0) // the screen catches up now and then, as between dispatches
                QApplication::processEvents();
        }
    };
    const auto check = [&](const char* step) {
        EXPECT_TRUE(ShowsAFullRepaint(*graph)) << step;
        QImage drawn(graph->size(), QImage::Format_RGB32);
        QPainter painter(&drawn);
        graph->DrawTrend(painter);
        EXPECT_EQ(graph->PlotImage().copy(0, 0, graph->width(), kPlotRows),
                  FreshPlot(hub, *graph, pointPosition))
            << step;
    };
    feed(60, 5.0);
    check("first page, 6 V scale");
    pointPosition = 2;
    feed(30, 50.0);
    check("scale grew to 60 V");
    feed(400, 50.0);
    ASSERT_EQ(graph->CurrentPage(), 2);
    check("second page");
    graph->PreviousPage();
    feed(20, 50.0);
    check("paged back while readings arrive");
    graph->LastPage();
    check("back on the last page");
    feed(25, 90.0, kAngle);
    check("another function: unipolar, new run");
    hub.session.Reset();
    check("after RESET");
    feed(5, 3.0);
    check("readings after RESET");
}

TEST(PartialRepaint, NeedleGaugeScreen) {
    SessionHub hub;
    auto gauge = MakeGauge();
    ConnectPanes(hub.session, SessionPanes{nullptr, nullptr, gauge.get()});
    gauge->show();
    const Reading readings[] = {{3.0, 1, kDcVolt},       {-5.9, 1, kDcVolt}, {12.34, 2, kDcVolt},
                                {kOverload, 2, kDcVolt}, {7.5, 1, kKiloRpm}, {90.0, 1, kAngle},
                                {0.0, 0, kHertz}};
    for (const Reading& r : readings) {
        Dispatch(hub.session, r);
        EXPECT_TRUE(ShowsAFullRepaint(*gauge)) << r.value << " " << int(r.functionCode);
    }
    hub.session.Reset();
    EXPECT_TRUE(ShowsAFullRepaint(*gauge)) << "after RESET";
}

TEST(PartialRepaint, ReadingsTableScreen) {
    SessionHub hub;
    auto table = MakeTable(hub);
    table->show();
    for (int i = 0; i < 40; ++i) {
        zelvox::testing::AddRow(table->Model(), static_cast<std::uint8_t>(1 + i % 3), 1, i * 1.25, {});
        QApplication::processEvents();
        if (i % 7 == 0) {
            EXPECT_TRUE(ShowsAFullRepaint(*table)) << "row " << i;
        }
    }
    EXPECT_TRUE(ShowsAFullRepaint(*table)) << "40 rows";
    EXPECT_EQ(table->List()->verticalScrollBar()->value(), table->List()->verticalScrollBar()->maximum());
    table->List()->scrollToTop();
    EXPECT_TRUE(ShowsAFullRepaint(*table)) << "scrolled back";
    zelvox::testing::AddRow(table->Model(), 1, 1, 99.0, {});
    EXPECT_TRUE(ShowsAFullRepaint(*table)) << "a row after scrolling back";
    table->Clear();
    EXPECT_TRUE(ShowsAFullRepaint(*table)) << "cleared";
}

TEST(PartialRepaint, ControlPanelSegmentsScreen) {
    paneltest::PanelRig rig;
    EXPECT_TRUE(ShowsAFullRepaint(*rig.panel)) << "all lit before START";
    rig.panel->ShowStarted();
    EXPECT_TRUE(ShowsAFullRepaint(*rig.panel)) << "dark after START";
    // Random switches, overlapping pictures (m and micro, the annunciators) included: each repaints
    // only its own rectangle, and what lies beneath an unlit picture must come back exactly.
    std::mt19937 random(15);
    std::bernoulli_distribution flip(0.3);
    std::vector<bool> lit(kSegmentCount, false);
    for (int round = 0; round < 12; ++round) {
        std::vector<SegmentChange> changes;
        for (int s = 0; s < kSegmentCount; ++s)
            if (flip(random)) {
                lit[static_cast<std::size_t>(s)] = !lit[static_cast<std::size_t>(s)];
                changes.push_back({s, lit[static_cast<std::size_t>(s)]});
            }
        rig.panel->ApplySegmentChanges(changes);
        EXPECT_TRUE(ShowsAFullRepaint(*rig.panel)) << "round " << round;
    }
    rig.panel->ShowStarted();
    EXPECT_TRUE(ShowsAFullRepaint(*rig.panel)) << "dark again";
}
