// The Run View's plot, headless: what each key and the wheel do to the view and to following.
#include "panes/RunPlot.h"
#include "runview/ValueAxis.h"
#include "support/Pictures.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QWheelEvent>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace zelvox {
namespace {

constexpr std::int64_t kStart = 1796726526000;

TEST(RunPlot, KeysAndWheelMoveTheViewAndFollowingStopsAndResumesAsAScrollLockDoes) {
    RunIndex index;
    for (int i = 0; i < 10000; ++i)
        index.Append(kStart + i * 500, 3600, Reading{1.0 + (i % 50) * 0.01, 1, 1}, i + 1, 0);
    const double first = kStart, last = kStart + 9999.0 * 500;

    RunPlot plot(index);
    plot.resize(1000, 500);
    plot.SetLive(true);
    plot.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&plot));
    const double columns = plot.PlotRect().width();
    const auto span = [&] { return plot.View().msPerColumn * columns; };
    const auto middle = [&] { return plot.View().Ms(columns / 2); };

    // Fitted to the whole run at first, following.
    EXPECT_DOUBLE_EQ(plot.View().startMs, first);
    EXPECT_GE(plot.View().Ms(columns), last);
    EXPECT_TRUE(plot.FollowLive());

    const struct {
        int key;
        double spanFactor; // the span after / before
        bool keepsMiddle;
        double shiftColumns; // the start moves by this many columns (when the span is kept)
        bool follows;
    } keys[] = {
        {Qt::Key_Plus, 0.5, true, 0, false},
        {Qt::Key_Plus, 0.5, true, 0, false},
        {Qt::Key_Minus, 2.0, true, 0, false},
        {Qt::Key_Left, 1.0, false, -columns / 8, false},
        {Qt::Key_Right, 1.0, false, columns / 8, false},
    };
    for (const auto& k : keys) {
        const double spanBefore = span(), middleBefore = middle(), startBefore = plot.View().startMs;
        QTest::keyClick(&plot, static_cast<Qt::Key>(k.key));
        EXPECT_NEAR(span() / spanBefore, k.spanFactor, 1e-9) << k.key;
        if (k.keepsMiddle)
            EXPECT_NEAR(middle(), middleBefore, 1e-3 * spanBefore) << k.key;
        else
            EXPECT_NEAR(plot.View().startMs - startBefore, k.shiftColumns * plot.View().msPerColumn, 1e-6)
                << k.key;
        EXPECT_EQ(plot.FollowLive(), k.follows) << k.key;
    }

    // End follows again, the newest reading in sight; new readings are followed.
    QTest::keyClick(&plot, Qt::Key_End);
    EXPECT_TRUE(plot.FollowLive());
    EXPECT_NEAR(plot.View().X(static_cast<std::int64_t>(last)), columns * 0.75, 1);
    for (int i = 10000; i < 10000 + static_cast<int>(columns); ++i)
        index.Append(kStart + i * 500, 3600, Reading{1.0, 1, 1}, i + 1, 0);
    plot.DataGrew();
    const double newest = kStart + (9999.0 + columns) * 500;
    EXPECT_LT(plot.View().X(static_cast<std::int64_t>(newest)), columns);
    EXPECT_GT(plot.View().X(static_cast<std::int64_t>(newest)), 0);

    // Home: the run's start at the left edge, and no more following.
    QTest::keyClick(&plot, Qt::Key_Home);
    EXPECT_LT(plot.View().startMs, first);
    EXPECT_GT(plot.View().X(static_cast<std::int64_t>(first)), 0);
    EXPECT_FALSE(plot.FollowLive());

    // The wheel zooms around the pointer: the instant under it stays there.
    const QPointF at(plot.PlotRect().left() + 300, 200);
    const double under = plot.View().Ms(300);
    const double spanBefore = span();
    QWheelEvent wheel(at, plot.mapToGlobal(at), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&plot, &wheel);
    EXPECT_NEAR(plot.View().Ms(300), under, 1e-6 * spanBefore);
    EXPECT_NEAR(span() / spanBefore, 0.64, 1e-9);

    // Cursors: the span of the statistics is between them, else the visible one.
    plot.SetCursor(1, kStart + 2000);
    plot.SetCursor(0, kStart + 9000);
    EXPECT_EQ(plot.StatisticsSpan(), (std::pair<std::int64_t, std::int64_t>{kStart + 2000, kStart + 9000}));
    plot.ClearCursors();
    EXPECT_NEAR(static_cast<double>(plot.StatisticsSpan().second - plot.StatisticsSpan().first), span(), 2);
}

TEST(RunPlot, KeysGoToTheSpikeOverloadAndGapAndThePointerNamesWhatItsColumnDraws) {
    // 100,000 readings: a spike of one at 60,000, an overload at 70,000, an hour's gap at 80,000,
    // five rows left out before 90,000.
    RunIndex index;
    std::int64_t ms = kStart;
    for (int i = 0; i < 100000; ++i) {
        ms += i == 80000 ? 3600000 : 500;
        const double v = i == 60000 ? 9.0 : i == 70000 ? kOverload : 1.0 + (i % 7) * 0.01;
        index.Append(ms, 3600, Reading{v, 2, 1}, i + 1 + (i >= 90000 ? 5 : 0), 0);
    }
    RunPlot plot(index);
    plot.resize(1000, 500);
    plot.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&plot));
    QImage image(plot.size(), QImage::Format_RGB32);
    const auto middle = [&] {
        return index.LowerBound(std::llround(plot.View().Ms(plot.PlotRect().width() / 2.0)));
    };
    // A rule firing at 85,000 and ok at 90,000, a note at 95,000: E and Shift+E step between them.
    index.Events().Add({index.Time(85000), 3600, 85001, RunEvent::Kind::kFiring, "high", "1.05", "V"});
    index.Events().Add({index.Time(90000), 3600, 90001, RunEvent::Kind::kOk, "high", "1.00", "V"});
    index.Events().Add({index.Time(95000), 3600, 95001, RunEvent::Kind::kNote, "swapped", "", ""});
    const struct {
        Qt::Key key;
        int reading;
        Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    } keys[] = {{Qt::Key_M, 60000},
                {Qt::Key_Home, -1},
                {Qt::Key_O, 70000},
                {Qt::Key_G, 80000},
                {Qt::Key_G, 90000},
                {Qt::Key_E, 95000},
                {Qt::Key_E, 95000},
                {Qt::Key_E, 90000, Qt::ShiftModifier},
                {Qt::Key_E, 85000, Qt::ShiftModifier}};
    for (const auto& k : keys) {
        QTest::keyClick(&plot, k.key, k.modifiers);
        if (k.reading >= 0) {
            EXPECT_NEAR(static_cast<double>(middle()), k.reading, 1) << k.key;
        }
    }
    // Whole run in sight: the pointer at the spike's column and height names the spike, and at
    // the foot of that column a reading beside it.
    plot.FitAll();
    plot.render(&image); // the value ranges the pointer reads
    const int x = plot.PlotRect().left() + static_cast<int>(plot.View().Column(index.Time(60000)));
    const auto top = plot.ReadingAt(QPoint(x, plot.PlotRect().top() + 30));
    ASSERT_TRUE(top);
    EXPECT_EQ(*top, 60000);
    // The Index gap is marked on the time axis, in its own colour, and only there.
    const auto marked = [&](std::int64_t i) {
        const int gx = plot.PlotRect().left() + static_cast<int>(std::lround(plot.View().X(index.Time(i))));
        return testing::CountPixels(image, QRect(gx - 1, plot.PlotRect().bottom() - 7, 3, 1),
                                    [](QRgb c) { return QColor(c) == QColor(130, 0, 170); }) > 0;
    };
    EXPECT_TRUE(marked(90000));
    EXPECT_FALSE(marked(80000));
    const auto foot = plot.ReadingAt(QPoint(x, plot.PlotRect().bottom() - 30));
    ASSERT_TRUE(foot);
    EXPECT_NE(*foot, 60000);
    // The note is a flag on the time axis (a firing span's band: RunViewDesktopTest).
    const int flag = plot.PlotRect().left() + static_cast<int>(plot.View().Column(index.Time(95000)));
    EXPECT_EQ(image.pixelColor(flag + 2, plot.PlotRect().bottom() - 9), QColor(120, 50, 170));
    // A thousand and more presses of - keep the view on the calendar; a cursor double-clicked
    // beside a grid line takes the line's instant.
    for (int i = 0; i < 1100; ++i)
        QTest::keyClick(&plot, Qt::Key_Minus);
    EXPECT_GT(plot.View().msPerColumn, 0);
    EXPECT_LT(plot.View().Ms(plot.PlotRect().width()), 253402300800000.0);
    plot.ShowSpan(static_cast<double>(kStart), static_cast<double>(kStart) + 3 * 3600000.0);
    const std::int64_t hour = (kStart / 3600000 + 1) * 3600000;
    QTest::mouseDClick(&plot, Qt::LeftButton, Qt::NoModifier,
                       QPoint(plot.PlotRect().left() + static_cast<int>(plot.View().X(hour)) + 2, 200));
    ASSERT_TRUE(plot.Cursor(0));
    EXPECT_EQ(*plot.Cursor(0), hour);
}

TEST(RunPlot, AValueAxisAtTheEdgeOfADoublesPrecisionDrawsAFrameOnAFewGridLines) {
    const double ulp = std::nextafter(0.3, 1.0) - 0.3, big = std::numeric_limits<double>::max();
    const struct {
        double a, b;
    } spans[] = {
        {0.3, 0.30000000000000004},
        {0.3, 0.3 + ulp},
        {1e-300, 2e-300},
        {0, 1e-300},
        {-1e300, 1e300},
        {0, 1e300},
        {-big, big},
        {5, 5},
        {0, 0},
        {1e-320, 2e-320},
        {-2.5, 7.25},
    };
    for (const auto& s : spans) {
        const std::string row = std::to_string(s.a) + " .. " + std::to_string(s.b);
        const ValueRange r = PaddedValueRange(std::min(s.a, s.b), std::max(s.a, s.b));
        ASSERT_LT(r.low, r.high) << row;
        ASSERT_TRUE(std::isfinite(r.low) && std::isfinite(r.high)) << row;
        const std::vector<double> grid = ValueGrid(r.low, r.high, 12);
        EXPECT_GE(grid.size(), 2u) << row;
        EXPECT_LE(grid.size(), static_cast<std::size_t>(kMaxValueLines)) << row;
        EXPECT_TRUE(std::is_sorted(grid.begin(), grid.end())) << row;
        for (double v : grid)
            EXPECT_TRUE(v >= r.low && v <= r.high) << row;

        // The frame itself: the grid loop ends, whatever the span.
        RunIndex index;
        index.Append(kStart, 3600, Reading{s.a, 3, 1}, 1, 0);
        index.Append(kStart + 500, 3600, Reading{s.b, 3, 1}, 2, 0);
        RunPlot plot(index);
        plot.resize(800, 400);
        plot.FitAll();
        QImage image(800, 400, QImage::Format_RGB32);
        QPainter p(&image);
        plot.Render(p, image.rect());
    }
}

} // namespace
} // namespace zelvox
