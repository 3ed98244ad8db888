// The LCD artwork: a black background and green segment / annunciator figures on black.
// Every figure is drawn as white-on-black coverage first, then coloured: fully covered pixels
// bright green RGB(0,255,0), edge pixels a darker green, uncovered pixels black (the key colour
// of the picture control, so they stay transparent). No pixel of a figure is ever pure black.
#include "res/Artwork.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <functional>

namespace zelvox::res {

namespace {

constexpr QRgb kBright = qRgb(0, 255, 0);
constexpr int kCoverageFloor = 56; // below this a pixel is left black (transparent)

using Figure = std::function<void(QPainter&, double w, double h)>;

// Coverage to colour. Partially covered pixels are edges; with `outlined`, so are covered
// pixels that touch the outside, which gives solid bars a one-pixel darker rim.
QImage Colourise(const QImage& coverage, bool outlined) {
    const int w = coverage.width();
    const int h = coverage.height();
    auto at = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= w || y >= h)
            return 0;
        return static_cast<int>(coverage.constScanLine(y)[x]);
    };
    QImage out(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int c = at(x, y);
            if (c < kCoverageFloor) {
                line[x] = qRgb(0, 0, 0);
                continue;
            }
            bool edge = c < 224;
            if (outlined && !edge)
                edge = at(x - 1, y) < 128 || at(x + 1, y) < 128 || at(x, y - 1) < 128 || at(x, y + 1) < 128;
            line[x] = edge ? qRgb(0, 96 + c * 72 / 255, 0) : kBright;
        }
    }
    return out;
}

QImage Render(int w, int h, bool outlined, const Figure& figure) {
    QImage coverage(w, h, QImage::Format_Grayscale8);
    coverage.fill(0);
    {
        QPainter p(&coverage);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        figure(p, w, h);
    }
    return Colourise(coverage, outlined);
}

QFont AnnunciatorFont() {
    QFont font;
    font.setFamilies(
        {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"), QStringLiteral("sans-serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(100);
    font.setBold(true);
    return font;
}

// Text centred in the box (or against its top or bottom edge), letters `capHeight` pixels tall
// (capitals), squeezed sideways when the box is narrow, and shrunk when even that is not enough.
void Text(QPainter& p, const QRectF& box, const QString& text, double capHeight,
          Qt::Alignment vertical = Qt::AlignVCenter) {
    const QFont font = AnnunciatorFont();
    QPainterPath path;
    path.addText(0, 0, font, text);
    const QRectF bounds = path.boundingRect();
    if (bounds.isEmpty())
        return;
    double sy = capHeight / QFontMetricsF(font).capHeight();
    sy = std::min(sy, (box.height() - 1.0) / bounds.height());
    double sx = std::min(sy, (box.width() - 3.0) / bounds.width());
    if (sx < 0.7 * sy)
        sy = sx / 0.7;
    double dy = box.center().y() - bounds.center().y() * sy;
    if (vertical & Qt::AlignTop)
        dy = box.top() + 0.5 - bounds.top() * sy;
    else if (vertical & Qt::AlignBottom)
        dy = box.bottom() - 0.5 - bounds.bottom() * sy;
    QTransform t;
    t.translate(box.center().x() - bounds.center().x() * sx, dy);
    t.scale(sx, sy);
    p.drawPath(t.map(path));
}

QPainterPath Stroke(const QPainterPath& path, double width) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(path);
}

// A bar with bevelled (pointed) ends along the longer side of the box.
void Bar(QPainter& p, double w, double h, double inset) {
    QPolygonF poly;
    if (w >= h) {
        const double m = h / 2;
        poly << QPointF(inset, m) << QPointF(inset + m, 0) << QPointF(w - inset - m, 0)
             << QPointF(w - inset, m) << QPointF(w - inset - m, h) << QPointF(inset + m, h);
    } else {
        const double m = w / 2;
        poly << QPointF(m, inset) << QPointF(w, inset + m) << QPointF(w, h - inset - m)
             << QPointF(m, h - inset) << QPointF(0, h - inset - m) << QPointF(0, inset + m);
    }
    p.drawPolygon(poly);
}

void Battery(QPainter& p, double, double) {
    QPainterPath body;
    body.addRect(QRectF(1.5, 4.5, 20, 9));
    p.drawPath(Stroke(body, 2));
    p.drawRect(QRectF(22.5, 6.5, 3.5, 5));
    p.drawRect(QRectF(4, 7, 4, 4));
    p.drawRect(QRectF(9.5, 7, 4, 4));
}

void Diode(QPainter& p, double w, double h) {
    const double m = h / 2;
    QPainterPath lead;
    lead.moveTo(0.5, m);
    lead.lineTo(w - 0.5, m);
    p.drawPath(Stroke(lead, 1.6));
    QPolygonF triangle;
    triangle << QPointF(4, 3.5) << QPointF(12, m) << QPointF(4, h - 3.5);
    p.drawPolygon(triangle);
    p.drawRect(QRectF(12, 3.5, 2, h - 7));
}

void Continuity(QPainter& p, double, double h) {
    QPainterPath arcs;
    const QPointF centre(0.5, h / 2);
    for (double r : {3.5, 7.0, 10.5}) {
        const QRectF circle(centre.x() - r, centre.y() - r, 2 * r, 2 * r);
        arcs.arcMoveTo(circle, 50);
        arcs.arcTo(circle, 50, -100);
    }
    p.drawPath(Stroke(arcs, 1.7));
}

void Clock(QPainter& p, double w, double h) {
    QPainterPath path;
    const QPointF c(w / 2, h / 2);
    path.addEllipse(c, 7.3, 7.3);
    path.moveTo(c);
    path.lineTo(c.x(), 4.5);
    path.moveTo(c);
    path.lineTo(c.x() + 4, c.y());
    p.drawPath(Stroke(path, 1.6));
}

void Angle(QPainter& p, double, double) {
    QPainterPath path;
    path.moveTo(10.5, 3.5);
    path.lineTo(1.5, 15);
    path.lineTo(12, 15);
    path.addEllipse(QPointF(13.5, 3.8), 2.2, 2.2);
    p.drawPath(Stroke(path, 1.6));
}

void Hold(QPainter& p, double w, double h) {
    QPainterPath box;
    box.addRoundedRect(QRectF(1.5, 1.5, w - 3, h - 3), 3, 3);
    p.drawPath(Stroke(box, 1.8));
    Text(p, QRectF(4, 4, w - 8, h - 8), QStringLiteral("H"), 12);
}

void Circled(QPainter& p, double w, double h, const QString& digit) {
    QPainterPath ring;
    ring.addEllipse(QPointF(w / 2, h / 2), w / 2 - 1.2, h / 2 - 1.2);
    p.drawPath(Stroke(ring, 1.5));
    Text(p, QRectF(3, 3, w - 6, h - 6), digit, 9);
}

void Point(QPainter& p, double w, double h) {
    p.drawEllipse(QPointF(w / 2, h / 2), 3.8, 3.8);
}

struct Art {
    int id;
    bool outlined;
    Figure figure;
};

Figure Label(const QString& text, double capHeight = 11, Qt::Alignment vertical = Qt::AlignVCenter,
             double height = 0) {
    return [=](QPainter& p, double w, double h) {
        Text(p, QRectF(0, 0, w, height > 0 ? height : h), text, capHeight, vertical);
    };
}

const std::vector<Art>& ArtTable() {
    static const std::vector<Art> table = {
        {kSegVertical, true, [](QPainter& p, double w, double h) { Bar(p, w, h, 0.5); }},
        {kSegHorizontal, true, [](QPainter& p, double w, double h) { Bar(p, w, h, 2.5); }},
        {kAnnMinus, true, [](QPainter& p, double w, double h) { Bar(p, w, h, 0.5); }},
        {kPoint12, true, Point},
        {kPoint23, true, Point},
        {kPoint34, true, Point},
        {kAnnPlusTrig, false, Label(QStringLiteral("+TRIG"))},
        {kAnnAuto, false, Label(QStringLiteral("AUTO"))},
        {kAnnCelsius, false, Label(QStringLiteral("\u00B0C"))},
        {kAnnFahrenheit, false, Label(QStringLiteral("\u00B0F"))},
        {kAnnAmpere, false, Label(QStringLiteral("A"))},
        {kAnnAc, false, Label(QStringLiteral("AC"))},
        {kAnnPercent, false, Label(QStringLiteral("%"))},
        {kAnnCyl, false, Label(QStringLiteral("CYL"))},
        {kAnnDc, false, Label(QStringLiteral("DC"))},
        {kAnnBattery, false, Battery},
        {kAnnNumeral2, false, Label(QStringLiteral("2"), 13)},
        // Numeral 3's box is taller than its neighbours'; keep it on their line.
        {kAnnNumeral3, false, Label(QStringLiteral("3"), 13, Qt::AlignVCenter, 18)},
        {kAnnNumeral4, false, Label(QStringLiteral("4"), 13)},
        {kAnnNumeral5, false, Label(QStringLiteral("5"), 13)},
        {kAnnNumeral6, false, Label(QStringLiteral("6"), 13)},
        {kAnnNumeral8, false, Label(QStringLiteral("8"), 13)},
        {kAnnDis, false, Label(QStringLiteral("DIS"))},
        {kAnnDiode, false, Diode},
        {kAnnFarad, false, Label(QStringLiteral("F"))},
        {kAnnHold, false, Hold},
        {kAnnHertz, false, Label(QStringLiteral("Hz"))},
        {kAnnAngle, false, Angle},
        {kAnnKilo, false, Label(QStringLiteral("K"))},
        {kAnnKrpm, false, Label(QStringLiteral("kRPM"))},
        {kAnnContinuity, false, Continuity},
        {kAnnMega, false, Label(QStringLiteral("M"))},
        {kAnnMax, false, Label(QStringLiteral("MAX"))},
        {kAnnMin, false, Label(QStringLiteral("MIN"))},
        {kAnnMs, false, Label(QStringLiteral("ms"))},
        // The m and micro boxes overlap: m keeps to the top of its box, micro to the bottom.
        {kAnnMilli, false, Label(QStringLiteral("m"), 9, Qt::AlignTop)},
        {kAnnMicro, false, Label(QStringLiteral("\u00B5"), 9, Qt::AlignBottom)},
        {kAnnNano, false, Label(QStringLiteral("n"))},
        {kAnnOhm, false, Label(QStringLiteral("\u03A9"))},
        {kAnnCircled2, false, [](QPainter& p, double w, double h) { Circled(p, w, h, QStringLiteral("2")); }},
        {kAnnCircled4, false, [](QPainter& p, double w, double h) { Circled(p, w, h, QStringLiteral("4")); }},
        {kAnnRel, false, Label(QStringLiteral("REL"))},
        {kAnnClock, false, Clock},
        {kAnnMinusTrig, false, Label(QStringLiteral("-TRIG"))},
        {kAnnUsb, false, Label(QStringLiteral("USB"))},
        {kAnnVolt, false, Label(QStringLiteral("V"))},
    };
    return table;
}

} // namespace

QImage DrawSegmentImage(const ImageInfo& info) {
    if (info.kind == ImageKind::Background) {
        QImage image(info.width, info.height, QImage::Format_RGB32);
        image.fill(qRgb(0, 0, 0));
        return image;
    }
    const auto& table = ArtTable();
    const auto art = std::find_if(table.begin(), table.end(), [&](const Art& a) { return a.id == info.id; });
    if (art == table.end()) {
        // Not in the artwork: a plain block, so a missing figure is plain to see.
        return Render(info.width, info.height, true,
                      [](QPainter& p, double w, double h) { p.drawRect(QRectF(1, 1, w - 2, h - 2)); });
    }
    return Render(info.width, info.height, art->outlined, art->figure);
}

} // namespace zelvox::res
