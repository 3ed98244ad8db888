#include "panes/FlatScrollBar.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPolygon>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>

namespace zelvox {

FlatScrollBar::FlatScrollBar(Qt::Orientation orientation, QWidget* parent) : QScrollBar(orientation, parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

FlatScrollBar::Look FlatScrollBar::CurrentLook() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    Look look;
    look.handle = style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    look.atMinimum = value() == minimum();
    look.atMaximum = value() == maximum();
    look.enabled = isEnabled();
    return look;
}

void FlatScrollBar::sliderChange(SliderChange change) {
    // A new range or value that leaves the handle where it is paints nothing new.
    if (change == SliderOrientationChange || CurrentLook() != painted_)
        update();
}

void FlatScrollBar::paintEvent(QPaintEvent*) {
    QStyleOptionSlider option;
    initStyleOption(&option);
    painted_ = CurrentLook();
    const QPalette& colours = palette();
    QPainter painter(this);
    painter.fillRect(rect(), colours.color(QPalette::Window).darker(104));
    if (painted_.enabled && maximum() > minimum() && painted_.handle.isValid()) {
        painter.fillRect(painted_.handle, colours.color(QPalette::Button));
        painter.setPen(colours.color(QPalette::Mid));
        painter.drawRect(painted_.handle.adjusted(0, 0, -1, -1));
    }
    // The two arrow buttons: a small solid triangle each, grey at the end it points to.
    const auto arrow = [&](QStyle::SubControl control, bool atEnd, bool towardsEnd) {
        const QRect r = style()->subControlRect(QStyle::CC_ScrollBar, &option, control, this);
        if (r.isEmpty())
            return;
        const QPoint c = r.center();
        const int s = std::max(2, std::min(r.width(), r.height()) / 4);
        QPolygon triangle;
        if (orientation() == Qt::Vertical)
            triangle << QPoint(c.x() - s, c.y() + (towardsEnd ? -s / 2 : s / 2))
                     << QPoint(c.x() + s, c.y() + (towardsEnd ? -s / 2 : s / 2))
                     << QPoint(c.x(), c.y() + (towardsEnd ? s / 2 + 1 : -s / 2 - 1));
        else
            triangle << QPoint(c.x() + (towardsEnd ? -s / 2 : s / 2), c.y() - s)
                     << QPoint(c.x() + (towardsEnd ? -s / 2 : s / 2), c.y() + s)
                     << QPoint(c.x() + (towardsEnd ? s / 2 + 1 : -s / 2 - 1), c.y());
        const QColor ink =
            !painted_.enabled || atEnd ? colours.color(QPalette::Mid) : colours.color(QPalette::WindowText);
        painter.setPen(ink);
        painter.setBrush(ink);
        painter.drawPolygon(triangle);
    };
    arrow(QStyle::SC_ScrollBarSubLine, painted_.atMinimum, false);
    arrow(QStyle::SC_ScrollBarAddLine, painted_.atMaximum, true);
}

} // namespace zelvox
