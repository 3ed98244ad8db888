// A scroll bar for long lists, drawn without the style's gradients.
#pragma once

#include <QRect>
#include <QScrollBar>

namespace zelvox {

// A scroll bar drawn flat (no gradients) that repaints only when what it shows changes: at a
// few thousand rows a new row no longer moves the handle by a pixel.
class FlatScrollBar : public QScrollBar {
    Q_OBJECT
public:
    explicit FlatScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void sliderChange(SliderChange change) override;

private:
    struct Look {
        QRect handle;
        bool atMinimum = false, atMaximum = false, enabled = true;
        bool operator==(const Look&) const = default;
    };
    Look CurrentLook() const;
    Look painted_;
};

} // namespace zelvox
