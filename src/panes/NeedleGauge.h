// The needle gauge pane: a red needle over the dial that the scale table selects.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <cstdint>

class QPainter;

namespace zelvox {

class NeedleGauge : public QWidget {
    Q_OBJECT
public:
    explicit NeedleGauge(QWidget* parent = nullptr);

    void InitialUpdate();
    void ShowReading(std::uint8_t functionCode, std::uint8_t pointPosition, double value);
    void Reset();
    void DrawGauge(QPainter& target);

    double gaugeValue() const { return gaugeValue_; }
    std::uint16_t gaugeScale() const { return gaugeScale_; }
    QPoint ShownTip() const { return needleTip_; }
    QSize dialSize() const { return dialSize_; }

    // The needle tip for a shown value on scale row s (pure; used by painting and tests).
    static QPoint NeedleTip(double gaugeValue, std::uint16_t scale);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double gaugeValue_ = 0.0;
    std::uint16_t gaugeScale_ = 0;
    QPoint needleTip_{205, 6};
    QRect clientRect_;
    QSize dialSize_;
    int paintedDial_ = -1;     // image id of the dial on screen
    QPoint screenTip_{205, 6}; // needle tip on screen

    // Repaints what a new value or scale changes: the old and the new needle, or the whole
    // pane when the dial changes.
    void InvalidateNeedle();
};

} // namespace zelvox
