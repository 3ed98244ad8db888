#include "panes/NeedleGauge.h"

#include "decode/FunctionCode.h"
#include "panes/ScaleTable.h"
#include "res/Artwork.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>

namespace zelvox {

namespace {

constexpr QPoint kPivot{205, 204};
constexpr double kReach = 199.0;
constexpr double kPi = 3.1415926535;
const QColor kStripGrey(220, 220, 220);
const QColor kNeedleRed(255, 0, 0);

// Brings a value onto the dial's numbers: 1 up to a range of 10, then 10, 100, 1000.
double Divisor(double rangeMaximum) {
    if (rangeMaximum <= 10)
        return 1;
    if (rangeMaximum <= 100)
        return 10;
    if (rangeMaximum <= 1000)
        return 100;
    return 1000;
}

} // namespace

NeedleGauge::NeedleGauge(QWidget* parent) : QWidget(parent) {
    // Every paint covers the dial; nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void NeedleGauge::InitialUpdate() {
    clientRect_ = rect();
    dialSize_ = res::LoadImage(scaleTable[0].dialImage).size();
}

void NeedleGauge::ShowReading(std::uint8_t functionCode, std::uint8_t pointPosition, double value) {
    gaugeValue_ = value;
    gaugeScale_ = GaugeScale(functionCode, pointPosition, value);
    if (IsUnipolar(functionCode))
        gaugeValue_ -= scaleTable[gaugeScale_].rangeMaximum;
    InvalidateNeedle();
}

void NeedleGauge::Reset() {
    gaugeValue_ = 0.0;
    gaugeScale_ = 0;
    InvalidateNeedle();
}

void NeedleGauge::InvalidateNeedle() {
    const int row = gaugeScale_ < kScaleRows ? gaugeScale_ : 0;
    if (scaleTable[row].dialImage != paintedDial_) {
        update();
        return;
    }
    // The needle's bounding box, widened by its pen on every side.
    const auto box = [](QPoint tip) { return QRect(kPivot, tip).normalized().adjusted(-2, -2, 2, 2); };
    const QPoint tip = NeedleTip(gaugeValue_, gaugeScale_);
    // One rectangle around both: a region of two would be painted through Qt's span clipping,
    // which hands the dial's copy to its worker threads.
    if (tip != screenTip_)
        update(box(screenTip_) | box(tip));
}

QPoint NeedleGauge::NeedleTip(double gaugeValue, std::uint16_t scale) {
    if (scale >= kScaleRows)
        scale = 0;
    const ScaleRow& row = scaleTable[scale];
    double shown = 0.0;
    if (scale != 0 && !std::isnan(gaugeValue))
        shown = gaugeValue / Divisor(row.rangeMaximum);
    const double fullScale = row.dialFullScale;
    shown = std::clamp(shown, -fullScale, fullScale);
    const double angle = shown * kPi / (2 * fullScale);
    // Truncation toward zero, as the dial artwork assumes: full deflection lands on y = 204.
    const int x = static_cast<int>(std::sin(angle) * kReach + kPivot.x());
    const int y = 1 - static_cast<int>(std::cos(angle) * kReach - kPivot.y());
    return {x, y};
}

void NeedleGauge::DrawGauge(QPainter& target) {
    needleTip_ = NeedleTip(gaugeValue_, gaugeScale_);
    const int row = gaugeScale_ < kScaleRows ? gaugeScale_ : 0;
    const QImage dial = res::LoadImage(scaleTable[row].dialImage);
    dialSize_ = dial.size();
    const QRect client = clientRect_.isNull() ? rect() : clientRect_;

    // The strip below the dial, and any column beyond a narrower dial, are background.
    target.fillRect(
        QRect(client.left(), dialSize_.height(), client.width(), client.height() - dialSize_.height()),
        kStripGrey);
    if (client.width() > dialSize_.width())
        target.fillRect(QRect(dialSize_.width(), 0, client.width() - dialSize_.width(), dialSize_.height()),
                        kStripGrey);
    if (!dial.isNull())
        target.drawImage(0, 0, dial);

    target.save();
    target.setRenderHint(QPainter::Antialiasing, false);
    target.setPen(QPen(kNeedleRed, 2, Qt::SolidLine, Qt::FlatCap));
    target.drawLine(kPivot, needleTip_);
    target.restore();
}

void NeedleGauge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawGauge(painter);
    paintedDial_ = scaleTable[gaugeScale_ < kScaleRows ? gaugeScale_ : 0].dialImage;
    screenTip_ = needleTip_;
}

} // namespace zelvox
