#include "panes/ReadoutLines.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>

namespace zelvox {

namespace {
constexpr int kMargin = 2;
}

ReadoutLines::ReadoutLines(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setFixedHeight(2 * kMargin);
}

QRect ReadoutLines::LineRect(int line) const {
    const int spacing = fontMetrics().lineSpacing();
    return QRect(0, kMargin + line * spacing, width(), spacing);
}

void ReadoutLines::SetLines(const QStringList& lines) {
    const auto count = static_cast<int>(lines.size());
    if (count != lines_.size()) {
        lines_ = lines;
        laidOut_.assign(lines.size(), QStaticText());
        for (int i = 0; i < count; ++i)
            laidOut_[i].setText(lines[i]);
        setFixedHeight(fontMetrics().lineSpacing() * count + 2 * kMargin);
        update();
        return;
    }
    for (int i = 0; i < count; ++i) {
        if (lines[i] == lines_[i])
            continue;
        lines_[i] = lines[i];
        laidOut_[i].setText(lines[i]);
        update(LineRect(i));
    }
}

void ReadoutLines::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    for (int i = 0; i < static_cast<int>(laidOut_.size()); ++i) {
        const QRect r = LineRect(i);
        if (r.intersects(event->rect()))
            p.drawStaticText(r.topLeft(), laidOut_[i]);
    }
}

void ReadoutLines::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        for (QStaticText& text : laidOut_)
            text.prepare(QTransform(), font());
        setFixedHeight(fontMetrics().lineSpacing() * static_cast<int>(lines_.size()) + 2 * kMargin);
    }
    QWidget::changeEvent(event);
}

} // namespace zelvox
