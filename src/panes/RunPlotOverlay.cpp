// The Run View's plot laying one lane over another: one lane's area, both envelopes in their
// own colours with a legend, the time axis in time since the start.
#include "panes/RunPlot.h"

#include "decode/Format.h"
#include "runview/TimeTicks.h"
#include "runview/ValueAxis.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace zelvox {

namespace {

constexpr double kTickSpacing = 110;
const QColor kColours[2] = {QColor(20, 60, 150), QColor(220, 90, 20)};
const QColor kGrid(225, 228, 235);

// "+0:00:10", "+1:30:00.250", "-0:05:00", "+2 d 03:00:00"
QString SinceText(std::int64_t ms) {
    const QChar sign = ms < 0 ? QLatin1Char('-') : QLatin1Char('+');
    ms = std::abs(ms);
    const std::int64_t days = ms / 86400000, h = ms / 3600000 % 24, m = ms / 60000 % 60, sec = ms / 1000 % 60;
    QString text =
        QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(sec, 2, 10, QLatin1Char('0'));
    if (ms % 1000 != 0)
        text += QStringLiteral(".%1").arg(ms % 1000, 3, 10, QLatin1Char('0'));
    if (days > 0)
        text = QStringLiteral("%1 d ").arg(days) + text;
    return sign + text;
}

} // namespace

void RunPlot::SetOverlay(std::optional<Overlay> overlay) {
    overlay_ = std::move(overlay);
    ClearCursors();
    FitAll();
}

void RunPlot::RenderOverlay(QPainter& p, const QRect& area) const {
    const QRect own = PlotRect();
    const QRect plot = area.adjusted(own.left() - rect().left(), own.top() - rect().top(),
                                     own.right() - rect().right(), own.bottom() - rect().bottom());
    p.fillRect(area, Qt::white);
    if (plot.width() < 2 || plot.height() < 2)
        return;
    const Overlay& o = *overlay_;
    const double ownWidth = std::max(1, own.width());
    const TimeScale scale{view_.startMs, view_.msPerColumn * ownWidth / plot.width()};
    const TimeScale scaleB{scale.startMs + static_cast<double>(o.align.startB - o.align.startA),
                           scale.msPerColumn};
    const std::vector<EnvelopeColumn> columns[2] = {StoreEnvelope(*o.a.store, scale, plot.width()),
                                                    StoreEnvelope(*o.b.store, scaleB, plot.width())};
    const QFontMetrics fm(p.font());

    // One value range for both, so that they compare where they are drawn.
    bool any = false;
    double low = 0, high = 1;
    for (const auto& lane : columns)
        for (const EnvelopeColumn& c : lane)
            if (c.count > 0) {
                low = any ? std::min(low, c.min) : c.min;
                high = any ? std::max(high, c.max) : c.max;
                any = true;
            }
    const ValueRange range = any ? PaddedValueRange(low, high) : ValueRange{-1, 1};
    const double half = range.high / 2 - range.low / 2;
    const auto y = [&](double v) {
        return plot.bottom() - (v / 2 - range.low / 2) / half * (plot.height() - 1);
    };

    // Time since start: ticks at whole steps from the first lane's start.
    const std::int64_t step = TimeTickStep(scale.msPerColumn, kTickSpacing);
    const auto since = static_cast<std::int64_t>(std::floor(scale.startMs)) - o.align.startA;
    std::int64_t tick = (since / step) * step;
    for (int shown = 0; shown < 200; ++shown, tick += step) {
        const double x = scale.X(o.align.startA + tick);
        if (x > plot.width())
            break;
        if (x < 0)
            continue;
        const int px = plot.left() + static_cast<int>(std::floor(x));
        p.setPen(kGrid);
        p.drawLine(px, plot.top(), px, plot.bottom());
        p.setPen(Qt::black);
        p.drawLine(px, plot.bottom(), px, plot.bottom() + 4);
        const QString text = SinceText(tick);
        p.drawText(px - fm.horizontalAdvance(text) / 2, plot.bottom() + 6 + fm.ascent(), text);
    }
    p.drawText(plot.left(), plot.bottom() + 6 + fm.height() + fm.ascent(),
               QStringLiteral("time since start"));

    DrawValueGrid(p, plot, any ? Range{range.low, range.high} : Range{1, 0}, y,
                  QString::fromStdString(o.a.unit), true);

    p.save();
    p.setClipRect(plot);
    for (int k = 0; k < 2; ++k) {
        const TimeScale& sc = k == 0 ? scale : scaleB;
        std::vector<QLineF> lines;
        for (const EnvelopeColumn& c : columns[k]) {
            if (c.count == 0)
                continue;
            const double x = plot.left() + static_cast<double>(c.x) + 0.5;
            lines.emplace_back(x, y(c.min), x, y(c.max));
            if (c.joinsPrevious)
                lines.emplace_back(plot.left() + std::floor(sc.X(c.previousMs)) + 0.5, y(c.previousValue), x,
                                   y(c.first));
        }
        p.setPen(QPen(kColours[k], 1));
        p.drawLines(lines.data(), static_cast<int>(lines.size()));
    }
    p.restore();

    // The legend: each lane's colour, name and start.
    const ShownLane* lanes[2] = {&o.a, &o.b};
    const std::int64_t starts[2] = {o.align.startA, o.align.startB};
    int top = plot.top() + 6;
    for (int k = 0; k < 2; ++k) {
        const QString text =
            QStringLiteral("%1  from %2")
                .arg(QString::fromStdString(lanes[k]->Title()),
                     QString::fromStdString(FormatLocalTime(starts[k], index_.Offsets().At(starts[k]))));
        p.fillRect(QRect(plot.left() + 8, top + fm.ascent() / 2 - 1, 16, 3), kColours[k]);
        p.setPen(Qt::black);
        p.drawText(plot.left() + 30, top + fm.ascent(), text);
        top += fm.height() + 2;
    }
    for (int which = 0; which < 2; ++which) {
        if (!cursors_[which])
            continue;
        const int x = plot.left() + static_cast<int>(std::floor(scale.X(*cursors_[which])));
        if (x < plot.left() || x > plot.right())
            continue;
        p.setPen(QPen(which == 0 ? QColor(0, 150, 70) : QColor(210, 110, 0), 1, Qt::DashLine));
        p.drawLine(x, plot.top(), x, plot.bottom());
    }
}

QString RunPlot::DescribeOverlay(const QPoint& at) const {
    const Overlay& o = *overlay_;
    const auto ms = static_cast<std::int64_t>(std::llround(view_.Ms(at.x() - PlotRect().left() + 0.5)));
    QString text = SinceText(o.align.SinceStart(ms));
    const auto nearest = [&](const ShownLane& lane, std::int64_t t) {
        const RunStore& s = *lane.store;
        std::int64_t i = RunIndex::LowerBound(s, t);
        if (i == s.Size() || (i > 0 && t - s.Time(i - 1) < s.Time(i) - t))
            --i;
        if (i < 0 || std::abs(view_.X(s.Time(i)) - view_.X(t)) > 4)
            return QStringLiteral("-");
        return QString::number(s.Value(i), 'g', 7) + QLatin1Char(' ') + QString::fromStdString(lane.unit);
    };
    text += QStringLiteral("   %1: %2   %3: %4")
                .arg(QString::fromStdString(o.a.Title()), nearest(o.a, ms),
                     QString::fromStdString(o.b.Title()), nearest(o.b, o.align.OnB(ms)));
    return text;
}

} // namespace zelvox
