#include "panes/RunPlot.h"

#include "decode/Format.h"
#include "decode/Labels.h"
#include "runview/TimeTicks.h"
#include "runview/ValueAxis.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <limits>

namespace zelvox {

namespace {

constexpr int kLeftMargin = 84, kRightMargin = 14, kTopMargin = 8, kBottomMargin = 40, kLaneGap = 12;
constexpr double kTickSpacing = 110; // columns between time labels at least
constexpr double kShortestMsPerColumn = 0.01;
// The view stays within the years 1900 to 9999, at most three centuries wide.
constexpr double kEarliestMs = -2208988800000.0, kLatestMs = 253402300799000.0;
constexpr double kWidestMs = 300 * 365.25 * 86400000.0;
constexpr int kEmptyLaneHeight = 22;
constexpr int kSnapPixels = 4;
constexpr int kCursorGrip = 5;
const QColor kTrace(20, 60, 150), kOverloadMark(200, 0, 0), kGapMark(130, 0, 170), kGrid(225, 228, 235);
const QColor kCursorColours[2] = {QColor(0, 150, 70), QColor(210, 110, 0)};
const QColor kFiringBand(230, 40, 40, 45), kNoteFlag(120, 50, 170);
constexpr int kEventsDrawn = 2000; // spans or notes in sight drawn at most
// Marks on the time axis, and readings drawn where their clock went back, in sight at most; a
// frame looks through at most kSetBacksLooked of a run's readings whose clock went back.
constexpr int kMarksShown = 500;
constexpr std::size_t kSetBacksLooked = std::size_t{1} << 16;

QString Label(std::u16string_view s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

RunPlot::RunPlot(const RunIndex& index, QWidget* parent) : QWidget(parent), index_(index) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(320, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QRect RunPlot::PlotRect() const {
    return rect().adjusted(kLeftMargin, kTopMargin, -kRightMargin, -kBottomMargin);
}

void RunPlot::SetParallel(const ParallelRuns* runs) {
    parallel_ = runs;
    shownSize_ = 0;
    update();
}

const RunIndex& RunPlot::SourceIndex(int source) const {
    if (parallel_ && source >= 0 && static_cast<std::size_t>(source) < parallel_->SourceCount())
        return parallel_->Source(static_cast<std::size_t>(source));
    return index_;
}

QString RunPlot::Named(int source, const QString& text) const {
    if (!parallel_ || parallel_->SourceCount() < 2)
        return text;
    return QString::fromStdString(parallel_->SourceName(static_cast<std::size_t>(source))) +
           QStringLiteral(": ") + text;
}

std::vector<ShownLane> RunPlot::Shown() const {
    if (parallel_)
        return parallel_->Lanes();
    std::vector<ShownLane> lanes;
    ParallelRuns::AppendLanes(index_, 0, std::string(), lanes);
    return lanes;
}

std::pair<double, double> RunPlot::RunSpan() const {
    if (overlay_) {
        // Both lanes on the first one's clock.
        const RunStore& a = *overlay_->a.store;
        const RunStore& b = *overlay_->b.store;
        std::optional<std::pair<double, double>> span;
        const auto take = [&](double from, double to) {
            span = span ? std::pair{std::min(span->first, from), std::max(span->second, to)}
                        : std::pair{from, to};
        };
        if (a.Size() > 0)
            take(static_cast<double>(a.Time(0)), static_cast<double>(a.Time(a.Size() - 1)));
        if (b.Size() > 0)
            take(static_cast<double>(overlay_->align.OnA(b.Time(0))),
                 static_cast<double>(overlay_->align.OnA(b.Time(b.Size() - 1))));
        return span ? *span : std::pair{0.0, 1000.0};
    }
    if (parallel_) {
        const auto span = parallel_->Span();
        return span ? std::pair{static_cast<double>(span->first), static_cast<double>(span->second)}
                    : std::pair{0.0, 1000.0};
    }
    if (index_.Size() == 0)
        return {0, 1000};
    return {static_cast<double>(index_.Time(0)), static_cast<double>(index_.Time(index_.Size() - 1))};
}

void RunPlot::SetView(double startMs, double msPerColumn) {
    const double columns = std::max(1, PlotRect().width());
    view_.msPerColumn = std::clamp(msPerColumn, kShortestMsPerColumn, kWidestMs / columns);
    view_.startMs = std::clamp(startMs, kEarliestMs, kLatestMs - view_.msPerColumn * columns);
    update();
    emit viewChanged();
    // The readout under a pointer that stayed where it was names what is under it now.
    if (underMouse())
        Hover(mapFromGlobal(QCursor::pos()));
}

void RunPlot::ShowSpan(double fromMs, double toMs) {
    const double columns = std::max(1, PlotRect().width());
    SetView(fromMs, std::max(toMs - fromMs, 1.0) / columns);
}

void RunPlot::FitAll() {
    FitAllWithRoom(0.005); // the last reading inside the last column, not on its edge
}

void RunPlot::FitAllWithRoom(double room) {
    fitAll_ = true;
    const auto [from, to] = RunSpan();
    ShowSpan(from, to + std::max((to - from) * room, 1.0));
}

void RunPlot::ScrollToEnd() {
    const double width = view_.msPerColumn * std::max(1, PlotRect().width());
    const double end = RunSpan().second;
    SetView(end - width * 0.75, view_.msPerColumn);
}

void RunPlot::DataGrew() {
    // Live, the view moves only when the newest reading reaches the right edge: whole run in
    // sight, it is fitted again with a quarter of room; following, it scrolls by a quarter.
    const double columns = std::max(1, PlotRect().width());
    const double x = parallel_
                         ? (parallel_->Span() ? view_.X(static_cast<std::int64_t>(RunSpan().second)) : 0)
                     : index_.Size() > 0 ? view_.X(index_.Time(index_.Size() - 1))
                                         : 0;
    const bool inside = x >= 0 && x < columns - 2;
    if (fitAll_ && !(live_ && inside))
        FitAllWithRoom(live_ ? 0.25 : 0.005);
    else if (!fitAll_ && follow_ && !inside)
        ScrollToEnd();
    else
        UpdateNewest();
}

void RunPlot::UpdateNewest() {
    const std::int64_t size = index_.Size();
    if (parallel_ || overlay_ || size == 0 || shownSize_ == 0 || shownSize_ > size ||
        size - shownSize_ > 64) {
        update();
        return;
    }
    // Any new reading outside its lane's drawn extent changes the value axis: all of it then.
    const RunIndex& s = index_;
    for (std::int64_t i = shownSize_; i < size; ++i) {
        const auto lane = static_cast<std::size_t>(index_.LaneOf(i));
        const double v = s.Value(i);
        if (lane >= shownExtents_.size() || (!valueFixed_ && !IsOverload(v) &&
                                             (v < shownExtents_[lane].low || v > shownExtents_[lane].high))) {
            update();
            return;
        }
    }
    const double from = view_.X(s.Time(std::max<std::int64_t>(shownSize_ - 1, 0)));
    const double to = view_.X(s.Time(size - 1));
    const int left = PlotRect().left() + static_cast<int>(std::floor(from)) - 2;
    update(QRect(left, 0, static_cast<int>(std::ceil(to - from)) + 5, height()));
    shownSize_ = size; // the strip asked for draws them
}

void RunPlot::SetFollowLive(bool on) {
    if (on == follow_)
        return;
    follow_ = on;
    if (on && !fitAll_)
        ScrollToEnd();
    emit followChanged(on);
}

void RunPlot::UserMoved() {
    fitAll_ = false;
    SetFollowLive(false);
}

void RunPlot::SetValueAxisFixed(bool fixed) {
    valueFixed_ = fixed;
    fixedRanges_ = fixed ? shownRanges_ : std::vector<Range>{};
    update();
}

void RunPlot::ClearCursors() {
    cursors_[0].reset();
    cursors_[1].reset();
    update();
    emit cursorsChanged();
}

void RunPlot::SetCursor(int which, std::int64_t ms) {
    cursors_[which] = ms;
    update();
    emit cursorsChanged();
}

std::pair<std::int64_t, std::int64_t> RunPlot::StatisticsSpan() const {
    if (cursors_[0] && cursors_[1])
        return std::minmax(*cursors_[0], *cursors_[1]);
    const double columns = std::max(1, PlotRect().width());
    return {static_cast<std::int64_t>(std::ceil(view_.startMs)),
            static_cast<std::int64_t>(std::ceil(view_.Ms(columns))) - 1};
}

void RunPlot::ZoomAround(double x, double factor) {
    const double ms = view_.Ms(x);
    const double perColumn = std::max(view_.msPerColumn * factor, kShortestMsPerColumn);
    UserMoved();
    SetView(ms - x * perColumn, perColumn);
}

void RunPlot::PanBy(double columns) {
    UserMoved();
    SetView(view_.startMs + columns * view_.msPerColumn, view_.msPerColumn);
}

std::vector<bool> RunPlot::LanesWithValues() const {
    const double columns = std::max(1, PlotRect().width());
    const auto from = static_cast<std::int64_t>(std::ceil(view_.startMs));
    const auto to = static_cast<std::int64_t>(std::ceil(view_.Ms(columns)));
    const std::vector<ShownLane> shown = Shown();
    std::vector<bool> with(shown.size());
    for (std::size_t l = 0; l < with.size(); ++l) {
        const RunStore& s = *shown[l].store;
        with[l] = s.Extent(RunIndex::LowerBound(s, from), RunIndex::LowerBound(s, to)).count > 0;
    }
    return with;
}

std::vector<QRect> RunPlot::LaneRects(const QRect& plot) const {
    // A lane with no value in sight is a strip with its name; the others share the rest.
    const std::vector<bool> with = LanesWithValues();
    const int lanes = std::max<int>(1, static_cast<int>(with.size()));
    const int full = std::max<int>(1, static_cast<int>(std::count(with.begin(), with.end(), true)));
    const int empty =
        static_cast<int>(with.size()) - static_cast<int>(std::count(with.begin(), with.end(), true));
    const int height = std::max(kEmptyLaneHeight,
                                (plot.height() - (lanes - 1) * kLaneGap - empty * kEmptyLaneHeight) / full);
    std::vector<QRect> rects;
    int top = plot.top();
    for (int l = 0; l < lanes; ++l) {
        const int h = l < static_cast<int>(with.size()) && !with[static_cast<std::size_t>(l)]
                          ? kEmptyLaneHeight
                          : height;
        rects.emplace_back(plot.left(), top, plot.width(), h);
        top += h + kLaneGap;
    }
    return rects;
}

RunPlot::Range RunPlot::LaneRange(std::size_t lane, const std::vector<EnvelopeColumn>& columns) const {
    if (valueFixed_ && lane < fixedRanges_.size())
        return fixedRanges_[lane];
    bool any = false;
    Range r;
    for (const EnvelopeColumn& c : columns) {
        if (c.count == 0)
            continue;
        r.low = any ? std::min(r.low, c.min) : c.min;
        r.high = any ? std::max(r.high, c.max) : c.max;
        any = true;
    }
    if (!any)
        return Range{-1, 1};
    const ValueRange padded = PaddedValueRange(r.low, r.high);
    return Range{padded.low, padded.high};
}

void RunPlot::MarkSetBacksAndGaps(QPainter& p, const QRect& plot, const TimeScale& scale,
                                  const RunIndex& index) const {
    // The first few hundred of each in sight: a view of a whole damaged run stays quick to draw.
    const std::int64_t first = index.LowerBound(static_cast<std::int64_t>(std::ceil(scale.startMs)));
    const auto mark = [&](std::int64_t i, int height) {
        const double x = scale.X(index.Time(i));
        if (x > plot.width())
            return false;
        p.drawLine(QPointF(plot.left() + x, plot.bottom() - height), QPointF(plot.left() + x, plot.bottom()));
        return true;
    };
    // Readings whose clock went back stand at the instant before them: marked on the time axis.
    const auto& backs = index.SetBacks();
    p.setPen(QPen(kOverloadMark, 2));
    auto back = std::lower_bound(backs.begin(), backs.end(), first,
                                 [](const RunIndex::SetBack& s, std::int64_t v) { return s.at < v; });
    for (int shown = 0; back != backs.end() && shown < kMarksShown && mark(back->at, 5); ++back, ++shown) {
    }
    // Where the Index skips within a run (rows left out): a thin mark, taller than a set-back's.
    const auto& breaks = index.Breaks();
    p.setPen(QPen(kGapMark, 1));
    auto gap = std::lower_bound(breaks.begin(), breaks.end(), std::max<std::int64_t>(first, 1),
                                [](const IndexBreak& b, std::int64_t v) { return b.at < v; });
    for (int shown = 0; gap != breaks.end() && shown < kMarksShown; ++gap) {
        if (index.RunOf(gap->at - 1) != gap->run)
            continue; // a new run or file
        if (!mark(gap->at, 9))
            break;
        ++shown;
    }
}

void RunPlot::Render(QPainter& p, const QRect& area, const QRect& dirty) const {
    if (overlay_) {
        RenderOverlay(p, area);
        return;
    }
    const QRect plot = area.adjusted(kLeftMargin, kTopMargin, -kRightMargin, -kBottomMargin);
    const auto lanes = LaneRects(plot);
    const auto with = LanesWithValues();
    // Only a picture on the widget itself keeps the ranges for later strips.
    const bool own = area == rect();
    const std::vector<ShownLane> shown = Shown();
    const bool partial = own && dirty.isValid() && !dirty.contains(area) &&
                         shownRanges_.size() == lanes.size() && shown.size() <= lanes.size() &&
                         shownSize_ > 0;
    const bool anyReadings = parallel_ ? parallel_->Span().has_value() : index_.Size() > 0;
    const QRect redraw = partial ? dirty : area;
    const auto inRedraw = [&](const QRect& r) { return r.intersects(redraw); };
    p.fillRect(redraw, Qt::white);
    if (plot.width() < 2 || plot.height() < 2)
        return;
    // The same instants across the plot, whatever the device's width.
    const double ownWidth = std::max(1, PlotRect().width());
    const TimeScale scale{view_.startMs, view_.msPerColumn * ownWidth / plot.width()};
    const std::int64_t firstColumn = std::max(0, redraw.left() - plot.left() - 1);
    const std::int64_t lastColumn = std::min(plot.width(), redraw.right() - plot.left() + 1);
    std::vector<std::vector<EnvelopeColumn>> envelopes;
    for (const ShownLane& l : shown)
        envelopes.push_back(StoreEnvelope(*l.store, scale, lastColumn, firstColumn));
    const QFontMetrics fm(p.font());

    // Time ticks and their labels, the date under the time where it changes.
    const std::int64_t step = TimeTickStep(scale.msPerColumn, kTickSpacing);
    // No readings, no time axis (it would only show the epoch).
    const auto ticks =
        !anyReadings ? std::vector<TimeTick>{}
                     : TimeTicks(static_cast<std::int64_t>(std::ceil(scale.startMs)),
                                 static_cast<std::int64_t>(scale.Ms(plot.width())), step, index_.Offsets());
    for (const TimeTick& t : ticks) {
        const int x = plot.left() + static_cast<int>(std::floor(scale.X(t.ms)));
        p.setPen(kGrid);
        p.drawLine(x, plot.top(), x, plot.bottom());
        p.setPen(Qt::black);
        p.drawLine(x, plot.bottom(), x, plot.bottom() + 4);
        if (!inRedraw(QRect(x - 80, plot.bottom(), 200, kBottomMargin)))
            continue;
        const QString top = QString::fromStdString(t.time.empty() ? t.date : t.time);
        p.drawText(x - fm.horizontalAdvance(top) / 2, plot.bottom() + 6 + fm.ascent(), top);
        if (!t.date.empty() && !t.time.empty())
            p.drawText(x + 2, plot.bottom() + 6 + fm.height() + fm.ascent(), QString::fromStdString(t.date));
    }

    std::vector<Range> ranges(lanes.size()), extents(lanes.size(), Range{0, -1});
    if (partial)
        ranges = shownRanges_;
    for (std::size_t l = 0; l < shown.size() && l < lanes.size(); ++l) {
        const QRect lane = lanes[l];
        const auto& columns = envelopes[l];
        if (!partial) {
            ranges[l] = LaneRange(l, columns);
            for (const EnvelopeColumn& c : columns)
                if (c.count > 0)
                    extents[l] = extents[l].low > extents[l].high ? Range{c.min, c.max}
                                                                  : Range{std::min(extents[l].low, c.min),
                                                                          std::max(extents[l].high, c.max)};
        }
        const Range range = ranges[l];
        // Halves: the width of a range near the largest double does not overflow.
        const double half = range.high / 2 - range.low / 2;
        const auto y = [&](double v) {
            return lane.bottom() - (v / 2 - range.low / 2) / half * (lane.height() - 1);
        };
        const QString unit = QString::fromStdString(shown[l].unit);

        // Value grid and labels, in the lane's unit; none for a lane with no value in sight.
        const bool empty = l < with.size() && !with[l];
        DrawValueGrid(p, lane, empty ? Range{1, 0} : range, y, unit, !partial);
        p.setPen(QColor(90, 90, 90));
        if (inRedraw(QRect(lane.left(), lane.top(), 160, fm.height() + 4)))
            p.drawText(lane.left() + 6, lane.top() + fm.ascent() + 3,
                       QString::fromStdString(shown[l].Title()) +
                           (empty ? QStringLiteral("   no readings in sight") : QString()));

        // The envelope: each column from min to max, joined to the reading before it.
        p.save();
        p.setClipRect(lane);
        DrawBands(p, shown[l], lane, scale);
        std::vector<QLineF> lines;
        lines.reserve(columns.size() * 2);
        std::vector<QLineF> marks;
        for (const EnvelopeColumn& c : columns) {
            const double x = plot.left() + static_cast<double>(c.x) + 0.5;
            if (c.count > 0) {
                lines.emplace_back(x, y(c.min), x, y(c.max));
                if (c.joinsPrevious)
                    lines.emplace_back(plot.left() + std::floor(scale.X(c.previousMs)) + 0.5,
                                       y(c.previousValue), x, y(c.first));
            }
            // Overloads: marks at the lane's edge, "0L" above, "-0L" below.
            if (c.overHigh > 0)
                marks.emplace_back(x, lane.top(), x, lane.top() + 7);
            if (c.overLow > 0)
                marks.emplace_back(x, lane.bottom() - 7, x, lane.bottom());
        }
        p.setPen(QPen(kTrace, 1));
        p.drawLines(lines.data(), static_cast<int>(lines.size()));
        p.setPen(QPen(kOverloadMark, 1));
        p.drawLines(marks.data(), static_cast<int>(marks.size()));
        // A reading whose clock went back stands in the trace at the instant before it (time
        // never runs backwards there); it is also drawn where it was recorded: a red ring.
        if (shown[l].source >= 0) {
            const RunIndex& index = SourceIndex(shown[l].source);
            const auto& backs = index.SetBacks();
            int ringed = 0;
            for (std::size_t b = 0; b < backs.size() && b < kSetBacksLooked && ringed < kMarksShown; ++b) {
                const double x = scale.X(static_cast<double>(backs[b].recordedMs));
                if (x < 0 || x > plot.width() || index.LaneOf(backs[b].at) != shown[l].lane)
                    continue;
                const double v = index.Value(backs[b].at);
                const double yy = IsOverload(v) ? (v > 0 ? lane.top() + 3 : lane.bottom() - 3) : y(v);
                p.drawEllipse(QPointF(plot.left() + std::floor(x) + 0.5, yy), 3, 3);
                ++ringed;
            }
        }
        p.restore();
    }

    for (std::size_t src = 0; src < SourceCount(); ++src) {
        MarkSetBacksAndGaps(p, plot, scale, SourceIndex(static_cast<int>(src)));
        DrawNotes(p, plot, scale, SourceIndex(static_cast<int>(src)));
    }
    if (!anyReadings && inRedraw(plot))
        p.drawText(plot, Qt::AlignCenter, QStringLiteral("No readings"));
    if (own && !partial) {
        shownRanges_ = ranges;
        shownExtents_ = extents;
        shownSize_ = index_.Size();
    }

    // The cursors, and the band being drawn.
    for (int which = 0; which < 2; ++which) {
        if (!cursors_[which])
            continue;
        const int x = plot.left() + static_cast<int>(std::floor(scale.X(*cursors_[which])));
        if (x < plot.left() || x > plot.right())
            continue;
        p.setPen(QPen(kCursorColours[which], 1, Qt::DashLine));
        p.drawLine(x, plot.top(), x, plot.bottom());
        p.drawText(x + 3, plot.top() + fm.ascent(), which == 0 ? QStringLiteral("A") : QStringLiteral("B"));
    }
    if (drag_ == Drag::kBand && area == rect()) {
        const QRect band = QRect(pressAt_, bandTo_).normalized();
        p.fillRect(QRect(band.left(), plot.top(), band.width(), plot.height()), QColor(40, 90, 200, 50));
    }
}

void RunPlot::DrawValueGrid(QPainter& p, const QRect& lane, Range range,
                            const std::function<double(double)>& y, const QString& unit, bool labels) {
    // The lane's frame, then grid lines across it (none for an empty range) and their values
    // left of it in unit.
    p.setPen(QColor(190, 195, 205));
    p.drawRect(lane.adjusted(0, 0, -1, -1));
    const auto grid = range.low > range.high
                          ? std::vector<double>{}
                          : ValueGrid(range.low, range.high, std::max(1, lane.height() / 36));
    const int digits = ValueGridDigits(grid);
    const double valueStep = grid.size() > 1 ? grid[1] - grid[0] : 0;
    const QFontMetrics fm(p.font());
    for (const double v : grid) {
        const int yy = static_cast<int>(std::round(y(v)));
        p.setPen(kGrid);
        p.drawLine(lane.left() + 1, yy, lane.right() - 1, yy);
        p.setPen(Qt::black);
        if (!labels)
            continue;
        const QString text =
            QString::number(std::abs(v) < valueStep / 1e6 ? 0.0 : v, 'g', digits) + QLatin1Char(' ') + unit;
        p.drawText(lane.left() - 6 - fm.horizontalAdvance(text), yy + fm.ascent() / 2 - 1, text);
    }
}

void RunPlot::DrawBands(QPainter& p, const ShownLane& lane, const QRect& rect, const TimeScale& scale) const {
    if (lane.source < 0)
        return; // a derived lane carries no alarm of its own
    const RunIndex& index = SourceIndex(lane.source);
    const auto& spans = index.Events().Spans();
    if (spans.empty())
        return;
    const double endMs = scale.Ms(rect.width());
    int drawn = 0;
    for (const FiringSpan& s : spans) {
        if (static_cast<double>(s.fromMs) > endMs || drawn >= kEventsDrawn)
            break;
        const std::int64_t to = RunEvents::SpanEnd(s, index);
        if (static_cast<double>(to) < scale.startMs || RunEvents::SpanLane(s, index) != lane.lane)
            continue;
        const double x0 = std::max(-1.0, std::floor(scale.X(static_cast<double>(s.fromMs))));
        const double x1 = std::min(rect.width() + 1.0, std::floor(scale.X(static_cast<double>(to))) + 1);
        p.fillRect(QRectF(rect.left() + x0, rect.top(), std::max(1.0, x1 - x0), rect.height()), kFiringBand);
        ++drawn;
    }
}

void RunPlot::DrawNotes(QPainter& p, const QRect& plot, const TimeScale& scale, const RunIndex& index) const {
    const RunEvents& events = index.Events();
    const QFontMetrics fm(p.font());
    const auto first =
        events.LowerBound(static_cast<std::int64_t>(std::floor(scale.startMs)) - events.LongestNoteMs());
    int drawn = 0;
    for (std::size_t e = first; e < events.Size() && drawn < kEventsDrawn; ++e) {
        const RunEvent& n = events.Events()[e];
        if (n.kind != RunEvent::Kind::kNote)
            continue;
        const double x0 = scale.X(static_cast<double>(n.ms));
        const double x1 = scale.X(static_cast<double>(n.ms + n.lengthMs));
        if (x0 > plot.width())
            break;
        if (x1 < 0)
            continue;
        ++drawn;
        const double left = plot.left() + std::floor(x0) + 0.5;
        p.setPen(QPen(kNoteFlag, 1, Qt::DotLine));
        p.drawLine(QPointF(left, plot.top()), QPointF(left, plot.bottom()));
        p.setPen(QPen(kNoteFlag, 2));
        if (n.lengthMs > 0) // a span: a bracket along the axis
            p.drawLine(QPointF(left, plot.bottom() - 1),
                       QPointF(plot.left() + std::floor(x1) + 0.5, plot.bottom() - 1));
        // The flag on the time axis, its text beside it.
        const QPolygonF flag({QPointF(left, plot.bottom()), QPointF(left, plot.bottom() - 12),
                              QPointF(left + 8, plot.bottom() - 9), QPointF(left, plot.bottom() - 6)});
        p.setBrush(kNoteFlag);
        p.drawPolygon(flag);
        p.setBrush(Qt::NoBrush);
        const QString text = fm.elidedText(QString::fromStdString(n.text), Qt::ElideRight, 160);
        p.drawText(QPointF(left + 10, plot.bottom() - 6), text);
    }
}

void RunPlot::paintEvent(QPaintEvent* event) {
    QElapsedTimer timer;
    timer.start();
    QPainter p(this);
    Render(p, rect(), event->rect());
    lastFrameMs_ = static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

void RunPlot::resizeEvent(QResizeEvent*) {
    if (fitAll_)
        FitAll();
}

void RunPlot::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0)
        ZoomAround(event->position().x() - PlotRect().left(), std::pow(0.8, steps));
    event->accept();
}

int RunPlot::CursorNear(int x) const {
    for (int which = 0; which < 2; ++which)
        if (cursors_[which] &&
            std::abs(PlotRect().left() + std::floor(view_.X(*cursors_[which])) - x) <= kCursorGrip)
            return which;
    return -1;
}

void RunPlot::mousePressEvent(QMouseEvent* event) {
    pressAt_ = bandTo_ = event->position().toPoint();
    pressView_ = view_;
    const bool band = event->button() == Qt::RightButton ||
                      (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ControlModifier));
    if (band) {
        drag_ = Drag::kBand;
    } else if (event->button() == Qt::LeftButton) {
        dragCursor_ = CursorNear(pressAt_.x());
        drag_ = dragCursor_ >= 0 ? Drag::kCursor : Drag::kPan;
    }
}

void RunPlot::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    switch (drag_) {
    case Drag::kPan:
        if (at != pressAt_) {
            UserMoved();
            SetView(pressView_.startMs - (at.x() - pressAt_.x()) * pressView_.msPerColumn,
                    pressView_.msPerColumn);
        }
        break;
    case Drag::kBand:
        bandTo_ = at;
        update();
        break;
    case Drag::kCursor:
        SetCursor(dragCursor_, SnapMs(at.x()));
        break;
    case Drag::kNone:
        setCursor(CursorNear(at.x()) >= 0 ? Qt::SizeHorCursor : Qt::CrossCursor);
        break;
    }
    Hover(at);
}

void RunPlot::mouseReleaseEvent(QMouseEvent* event) {
    if (drag_ == Drag::kBand) {
        const int left = std::min(pressAt_.x(), event->position().toPoint().x()) - PlotRect().left();
        const int right = std::max(pressAt_.x(), event->position().toPoint().x()) - PlotRect().left();
        drag_ = Drag::kNone;
        if (right - left >= 3) {
            UserMoved();
            ShowSpan(view_.Ms(left), view_.Ms(right));
        }
        update();
    }
    drag_ = Drag::kNone;
}

// A double click places cursor A, then B, then moves the nearer of the two.
void RunPlot::mouseDoubleClickEvent(QMouseEvent* event) {
    const std::int64_t ms = SnapMs(event->position().toPoint().x());
    int which = !cursors_[0] ? 0 : !cursors_[1] ? 1 : -1;
    if (which < 0)
        which = std::abs(*cursors_[0] - ms) <= std::abs(*cursors_[1] - ms) ? 0 : 1;
    SetCursor(which, ms);
}

void RunPlot::keyPressEvent(QKeyEvent* event) {
    const double columns = std::max(1, PlotRect().width());
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        ZoomAround(columns / 2, 0.5);
        break;
    case Qt::Key_Minus:
        ZoomAround(columns / 2, 2.0);
        break;
    case Qt::Key_Left:
        PanBy(-columns / 8);
        break;
    case Qt::Key_Right:
        PanBy(columns / 8);
        break;
    case Qt::Key_Home:
        UserMoved();
        SetView(RunSpan().first - columns * view_.msPerColumn * 0.02, view_.msPerColumn);
        break;
    case Qt::Key_M:
        GoTo(Target::kMaximum);
        break;
    case Qt::Key_N:
        GoTo(Target::kMinimum);
        break;
    case Qt::Key_O:
        GoTo(Target::kOverload);
        break;
    case Qt::Key_G:
        GoTo(Target::kGap);
        break;
    case Qt::Key_E:
        GoToEvent(!(event->modifiers() & Qt::ShiftModifier));
        break;
    case Qt::Key_End:
        fitAll_ = false;
        follow_ = false;
        SetFollowLive(true);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

std::optional<std::int64_t> RunPlot::ReadingAt(const QPoint& at) const {
    const auto found = LaneReadingAt(at);
    if (!found)
        return std::nullopt;
    const ShownLane lane = Shown()[found->first];
    if (lane.source != 0)
        return std::nullopt; // a reading of another source, or of a derived lane
    return index_.Global(lane.lane, found->second);
}

std::optional<std::pair<std::size_t, std::int64_t>> RunPlot::LaneReadingAt(const QPoint& at) const {
    const QRect plot = PlotRect();
    const auto lanes = LaneRects(plot);
    const std::vector<ShownLane> shown = Shown();
    for (std::size_t l = 0; l < shown.size() && l < lanes.size(); ++l) {
        if (!lanes[l].contains(at))
            continue;
        const RunStore& s = *shown[l].store;
        const int x = at.x() - plot.left();
        const std::int64_t begin = RunIndex::LowerBound(s, static_cast<std::int64_t>(std::ceil(view_.Ms(x))));
        const std::int64_t end =
            RunIndex::LowerBound(s, static_cast<std::int64_t>(std::ceil(view_.Ms(x + 1))));
        if (begin == end) {
            // An empty column: the lane's nearest reading, when it is drawn a few columns away.
            std::optional<std::int64_t> best;
            for (std::int64_t i : {begin - 1, begin})
                if (i >= 0 && i < s.Size() && std::abs(view_.X(s.Time(i)) - (x + 0.5)) <= kSnapPixels &&
                    (!best ||
                     std::abs(view_.X(s.Time(i)) - (x + 0.5)) < std::abs(view_.X(s.Time(*best)) - (x + 0.5))))
                    best = i;
            return best ? std::optional(std::pair{l, *best}) : std::nullopt;
        }
        // Of the readings the column draws, the one nearest the pointer's height: the spike the
        // column reaches, not its neighbour. Overloads stand at the lane's edges.
        const Range range = l < shownRanges_.size() ? shownRanges_[l] : Range{};
        const QRect lane = lanes[l];
        const double wanted = range.low + (range.high / 2 - range.low / 2) * 2 * (lane.bottom() - at.y()) /
                                              std::max(1, lane.height() - 1);
        std::int64_t best = begin;
        double bestDistance = std::numeric_limits<double>::infinity();
        for (std::int64_t i = begin; i < end; ++i) {
            const double v = s.Value(i);
            const double shown = IsOverload(v) ? (v > 0 ? range.high : range.low) : v;
            const double distance = std::abs(shown - wanted);
            if (distance < bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
        return std::pair{l, best};
    }
    return std::nullopt;
}

QString RunPlot::DescribeLane(const ShownLane& lane, std::int64_t at) const {
    const RunStore& s = *lane.store;
    const std::int64_t ms = s.Time(at);
    const QString value = lane.source < 0 ? QString::number(s.Value(at), 'g', 6)
                                          : Label(FormatTableValue(s.Value(at), s.PointPosition(at)));
    return QStringLiteral("%1   %2   %3 %4")
        .arg(QString::fromStdString(lane.Title()),
             QString::fromStdString(FormatLocalTime(ms, index_.Offsets().At(ms))), value,
             QString::fromStdString(lane.unit));
}

QString RunPlot::Describe(std::int64_t i) const {
    return DescribeIn(index_, i);
}

QString RunPlot::DescribeIn(const RunIndex& index, std::int64_t i) const {
    const std::int64_t ms = index.Time(i);
    return QStringLiteral("%1   %2 %3   Index %4")
        .arg(QString::fromStdString(FormatLocalTime(ms, index.Offsets().At(ms))),
             Label(FormatTableValue(index.Value(i), index.PointPosition(i))),
             Label(unitLabels[index.FunctionOf(i)]))
        .arg(index.IndexOf(i));
}

void RunPlot::Hover(const QPoint& at) {
    if (overlay_) {
        emit hoverChanged(PlotRect().contains(at) ? DescribeOverlay(at) : QString());
        return;
    }
    if (!parallel_) {
        const auto i = index_.Size() > 0 && PlotRect().contains(at) ? ReadingAt(at) : std::nullopt;
        emit hoverChanged(i ? Describe(*i) : QString());
        return;
    }
    const auto found = PlotRect().contains(at) ? LaneReadingAt(at) : std::nullopt;
    emit hoverChanged(found ? DescribeLane(Shown()[found->first], found->second) : QString());
}

std::int64_t RunPlot::SnapMs(int x) const {
    // A grid line within a few pixels wins, then a reading, else the instant under the pointer.
    const int column = x - PlotRect().left();
    const double raw = view_.Ms(column + 0.5);
    const std::int64_t step = TimeTickStep(view_.msPerColumn, kTickSpacing);
    for (const TimeTick& t :
         TimeTicks(static_cast<std::int64_t>(view_.Ms(column - kSnapPixels)),
                   static_cast<std::int64_t>(view_.Ms(column + kSnapPixels + 1)), step, index_.Offsets()))
        if (std::abs(std::floor(view_.X(t.ms)) - column) <= kSnapPixels)
            return t.ms;
    std::optional<std::int64_t> best;
    const auto consider = [&](std::int64_t ms) {
        if (!best || std::abs(static_cast<double>(ms) - raw) < std::abs(static_cast<double>(*best) - raw))
            best = ms;
    };
    if (parallel_) {
        for (const ShownLane& lane : Shown()) {
            const std::int64_t after =
                RunIndex::LowerBound(*lane.store, static_cast<std::int64_t>(std::ceil(raw)));
            for (std::int64_t i : {after - 1, after})
                if (i >= 0 && i < lane.store->Size())
                    consider(lane.store->Time(i));
        }
    } else if (index_.Size() > 0) {
        const std::int64_t after = index_.LowerBound(static_cast<std::int64_t>(std::ceil(raw)));
        for (std::int64_t i : {after - 1, after})
            if (i >= 0 && i < index_.Size())
                consider(index_.Time(i));
    }
    if (best && std::abs(view_.X(*best) - (column + 0.5)) <= kSnapPixels)
        return *best;
    return std::llround(raw);
}

void RunPlot::CentreOn(std::int64_t i) {
    CentreOnMs(index_.Time(i), Describe(i));
}

void RunPlot::CentreOnMs(std::int64_t ms, const QString& description) {
    const double columns = std::max(1, PlotRect().width());
    UserMoved();
    SetView(static_cast<double>(ms) - columns / 2 * view_.msPerColumn, view_.msPerColumn);
    emit hoverChanged(description);
}

std::optional<std::int64_t> RunPlot::Find(Target target) const {
    if (index_.Size() == 0)
        return std::nullopt;
    if (target == Target::kMaximum || target == Target::kMinimum) {
        // The window's own run: its lanes come first among the lanes shown.
        const auto found = FindExtreme(target == Target::kMaximum);
        if (!found || found->first >= index_.LaneCount())
            return std::nullopt;
        return index_.Global(static_cast<int>(found->first), found->second);
    }
    return FindIn(index_, target);
}

std::optional<std::int64_t> RunPlot::FindIn(const RunIndex& index, Target target) const {
    if (index.Size() == 0)
        return std::nullopt;
    const double columns = std::max(1, PlotRect().width());
    // From the reading after the view's middle on.
    const std::int64_t middle =
        index.LowerBound(static_cast<std::int64_t>(std::floor(view_.Ms(columns / 2))) + 1);
    std::optional<std::int64_t> found;
    const auto take = [&](std::int64_t i) {
        if (!found || i < *found)
            found = i;
    };
    switch (target) {
    case Target::kMaximum:
    case Target::kMinimum:
        return std::nullopt; // over the statistics span, in a lane: FindExtreme
    case Target::kOverload:
        for (std::size_t l = 0; l < index.LaneCount(); ++l) {
            const RunStore& s = index.Lane(l).store;
            const std::int64_t begin =
                RunIndex::LowerBound(s, index.Time(std::min(middle, index.Size() - 1)));
            const std::int64_t at = s.FindFirst(
                begin, s.Size(), [](const RangeSummary& r) { return r.overHigh + r.overLow > 0; });
            if (at < s.Size()) {
                const std::int64_t g = index.Global(static_cast<int>(l), at);
                if (g >= middle)
                    take(g);
            }
        }
        return found;
    case Target::kGap: {
        // Where time jumps, and where the Index does not go on by one (rows left out).
        const auto& gaps = index.Gaps();
        if (auto it = std::lower_bound(gaps.begin(), gaps.end(), middle); it != gaps.end())
            take(*it);
        const auto& breaks = index.Breaks();
        auto it = std::lower_bound(breaks.begin(), breaks.end(), middle,
                                   [](const IndexBreak& b, std::int64_t v) { return b.at < v; });
        if (it != breaks.end())
            take(it->at);
        return found;
    }
    case Target::kAlarmEvent:
        if (const auto e = FindEventIn(index.Events(), true))
            return std::min(index.LowerBound(index.Events().Events()[*e].ms), index.Size() - 1);
        return std::nullopt;
    }
    return found;
}

std::optional<std::pair<std::size_t, std::int64_t>> RunPlot::FindExtreme(bool high) const {
    const auto [from, to] = StatisticsSpan();
    const auto lanes = LaneRects(PlotRect());
    const QPoint pointer = mapFromGlobal(QCursor::pos());
    const auto with = LanesWithValues();
    const std::vector<ShownLane> shown = Shown();
    int lane = -1;
    for (std::size_t l = 0; l < with.size() && l < lanes.size(); ++l)
        if (with[l] && (lane < 0 || lanes[l].contains(pointer)))
            lane = static_cast<int>(l);
    if (lane < 0)
        return std::nullopt;
    const RunStore& s = *shown[static_cast<std::size_t>(lane)].store;
    const std::int64_t b = RunIndex::LowerBound(s, from), e = RunIndex::LowerBound(s, to + 1);
    const RangeSummary sum = s.Extent(b, e);
    if (sum.count == 0)
        return std::nullopt;
    const double extreme = high ? sum.max : sum.min;
    const std::int64_t at = s.FindFirst(b, e, [&](const RangeSummary& r) {
        return r.count > 0 && (high ? r.max == extreme : r.min == extreme);
    });
    return std::pair{static_cast<std::size_t>(lane), at};
}

std::optional<std::size_t> RunPlot::FindEventIn(const RunEvents& events, bool next) const {
    const double columns = std::max(1, PlotRect().width());
    const std::int64_t middle = std::llround(view_.Ms(columns / 2));
    if (next) {
        const std::size_t e = events.LowerBound(middle + 1);
        return e < events.Size() ? std::optional<std::size_t>(e) : std::nullopt;
    }
    const std::size_t e = events.LowerBound(middle);
    return e > 0 ? std::optional<std::size_t>(e - 1) : std::nullopt;
}

void RunPlot::GoToEvent(bool next) {
    // The nearest event of any source that way.
    std::optional<std::pair<int, std::size_t>> best;
    std::int64_t bestMs = 0;
    for (std::size_t src = 0; src < SourceCount(); ++src) {
        const RunEvents& events = SourceIndex(static_cast<int>(src)).Events();
        const auto e = FindEventIn(events, next);
        if (!e)
            continue;
        const std::int64_t ms = events.Events()[*e].ms;
        if (!best || (next ? ms < bestMs : ms > bestMs)) {
            best = std::pair{static_cast<int>(src), *e};
            bestMs = ms;
        }
    }
    if (best) {
        CentreOnMs(bestMs, DescribeEvent(best->first, best->second));
    }
}

void RunPlot::ShowEvent(int source, std::size_t e) {
    // The view's middle lands on the event itself: the next key goes on from there.
    const RunEvents& events = SourceIndex(source).Events();
    if (e < events.Size())
        CentreOnMs(events.Events()[e].ms, DescribeEvent(source, e));
}

QString RunPlot::DescribeEvent(int source, std::size_t e) const {
    return Named(source, DescribeEventOf(SourceIndex(source).Events(), e));
}

QString RunPlot::DescribeEventOf(const RunEvents& events, std::size_t e) {
    const RunEvent& n = events.Events()[e];
    const QString at = QString::fromStdString(FormatLocalTime(n.ms, n.utcOffsetSeconds));
    if (n.kind == RunEvent::Kind::kNote)
        return n.lengthMs > 0 ? QStringLiteral("%1  note (%2 s): %3")
                                    .arg(at)
                                    .arg(static_cast<double>(n.lengthMs) / 1000, 0, 'f', 3)
                                    .arg(QString::fromStdString(n.text))
                              : QStringLiteral("%1  note: %2").arg(at, QString::fromStdString(n.text));
    QString text =
        QStringLiteral("%1  alarm %2 %3")
            .arg(at, QString::fromStdString(n.text),
                 n.kind == RunEvent::Kind::kFiring ? QStringLiteral("firing") : QStringLiteral("ok"));
    if (!n.value.empty())
        text +=
            QStringLiteral(": %1 %2").arg(QString::fromStdString(n.value), QString::fromStdString(n.unit));
    return text;
}

void RunPlot::GoTo(Target target) {
    if (parallel_ && (target == Target::kMaximum || target == Target::kMinimum)) {
        // Any lane of any source: centred on its instant, named as the hover names it.
        if (const auto found = FindExtreme(target == Target::kMaximum)) {
            const ShownLane lane = Shown()[found->first];
            CentreOnMs(lane.store->Time(found->second), DescribeLane(lane, found->second));
        }
        return;
    }
    if (parallel_) {
        // The earliest of each source's next overload, gap or event.
        std::optional<std::pair<int, std::int64_t>> best;
        for (std::size_t src = 0; src < SourceCount(); ++src) {
            const RunIndex& index = SourceIndex(static_cast<int>(src));
            const auto i = FindIn(index, target);
            if (i && (!best || index.Time(*i) < SourceIndex(best->first).Time(best->second)))
                best = std::pair{static_cast<int>(src), *i};
        }
        if (best) {
            const RunIndex& index = SourceIndex(best->first);
            CentreOnMs(index.Time(best->second), Named(best->first, DescribeIn(index, best->second)));
        }
        return;
    }
    if (const auto i = Find(target))
        CentreOn(*i);
}

void RunPlot::leaveEvent(QEvent*) {
    emit hoverChanged(QString());
}

} // namespace zelvox
