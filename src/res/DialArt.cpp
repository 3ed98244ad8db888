// The gauge dials: a white half-disc face with a red scale arc of radius 199 around the pivot
// (205, 204), blue ticks and numbers, a pivot dot, and - / + marks on centre-zero dials.
#include "res/Artwork.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <numbers>

namespace zelvox::res {

namespace {

struct DialDesign {
    int id;
    int left, right;    // numbers at the ends (the left one negated on centre-zero dials)
    bool centreZero;    // numbered from the middle outwards, with - and + marks
    int majors;         // numbered divisions across the whole arc
    int minorsPerMajor; // unnumbered divisions between two numbers
};

// The diode dial is numbered to 3 at full deflection, the full scale of the diode range, so the
// needle and the numbers agree.
constexpr DialDesign kDials[] = {
    {kDialDiode3, -3, 3, true, 6, 5},        {kDial6, -6, 6, true, 6, 4},
    {kDial10, -10, 10, true, 10, 4},         {kDial60, -60, 60, true, 6, 4},
    {kDial100, -100, 100, true, 10, 4},      {kDial600, -600, 600, true, 6, 4},
    {kDial1000, -1000, 1000, true, 10, 4},   {kDial2000, -2000, 2000, true, 4, 5},
    {kDial6000, -6000, 6000, true, 6, 4},    {kDialAngle0180, 0, 180, false, 6, 3},
    {kDialKrpm01000, 0, 1000, false, 10, 2}, {kDialKrpm010, 0, 10, false, 10, 2},
    {kDialKrpm0100, 0, 100, false, 10, 2},   {kDial50, -50, 50, true, 10, 2},
};

constexpr double kPivotX = 205.5; // pixel centres: the arc passes through pixel (205, 5)
constexpr double kPivotY = 204.5;
constexpr double kArcRadius = 199.0;
constexpr double kFaceRadius = 204.0;
constexpr double kMajorTick = 14.0;
constexpr double kMinorTick = 7.0;
constexpr double kNumberRadius = 168.0;

const QColor kGrey(220, 220, 220);
const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);

const DialDesign* FindDesign(int id) {
    for (const DialDesign& d : kDials)
        if (d.id == id)
            return &d;
    return nullptr;
}

// A point at `radius` from the pivot, `fraction` of the way along the arc from the left end.
QPointF OnArc(double fraction, double radius) {
    const double angle = (fraction - 0.5) * std::numbers::pi; // from the vertical, right positive
    return {kPivotX + radius * std::sin(angle), kPivotY - radius * std::cos(angle)};
}

void DrawTicks(QPainter& p, const DialDesign& d) {
    const int steps = d.majors * d.minorsPerMajor;
    for (int s = 0; s <= steps; ++s) {
        const bool major = s % d.minorsPerMajor == 0;
        const double fraction = static_cast<double>(s) / steps;
        p.setPen(QPen(kBlue, major ? 2.0 : 1.0, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(OnArc(fraction, kArcRadius),
                   OnArc(fraction, kArcRadius - (major ? kMajorTick : kMinorTick)));
    }
}

void DrawNumbers(QPainter& p, const DialDesign& d, int imageHeight) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    font.setBold(true);
    p.setFont(font);
    p.setPen(kBlue);
    const QFontMetrics metrics(font);
    for (int k = 0; k <= d.majors; ++k) {
        const double fraction = static_cast<double>(k) / d.majors;
        int number = d.left + (d.right - d.left) * k / d.majors;
        if (d.centreZero)
            number = std::abs(number);
        const QString text = QString::number(number);
        const QSizeF size(metrics.horizontalAdvance(text), metrics.height());
        QPointF centre = OnArc(fraction, kNumberRadius);
        // The end numbers sit on the pivot line; keep them above the bottom edge of the image.
        centre.setY(std::min(centre.y(), imageHeight - 12 - size.height() / 2));
        p.drawText(QRectF(centre - QPointF(size.width() / 2, size.height() / 2), size), Qt::AlignCenter,
                   text);
    }
}

void DrawSignMarks(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawRect(QRectF(22, 30, 30, 6));  // minus, top left
    p.drawRect(QRectF(358, 30, 30, 6)); // plus, top right
    p.drawRect(QRectF(370, 18, 6, 30));
}

} // namespace

QImage DrawDialImage(const ImageInfo& info) {
    QImage image(info.width, info.height, QImage::Format_RGB32);
    image.fill(kGrey);
    const DialDesign* design = FindDesign(info.id);
    if (!design)
        return image;

    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    // Face: the upper half disc.
    QPainterPath face;
    face.moveTo(kPivotX - kFaceRadius, kPivotY);
    face.arcTo(QRectF(kPivotX - kFaceRadius, kPivotY - kFaceRadius, 2 * kFaceRadius, 2 * kFaceRadius), 180,
               -180);
    face.closeSubpath();
    p.fillPath(face, Qt::white);

    // Scale arc at the needle's reach.
    p.setPen(QPen(kRed, 2.0, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(kPivotX - kArcRadius, kPivotY - kArcRadius, 2 * kArcRadius, 2 * kArcRadius), 0,
              180 * 16);

    DrawTicks(p, *design);
    DrawNumbers(p, *design, info.height);
    if (design->centreZero)
        DrawSignMarks(p);

    // Pivot dot.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 40, 40));
    p.drawEllipse(QPointF(kPivotX, kPivotY), 6.0, 6.0);
    return image;
}

} // namespace zelvox::res
