// The 16 x 16 button pictures of the trend graph: floppy disk, printer and the paging arrows,
// on a transparent background.
#include "res/Artwork.h"

#include <QPainter>
#include <QPolygon>

namespace zelvox::res {

namespace {

const QColor kOutline(0, 0, 0);

void DrawDisk(QPainter& p) {
    p.setPen(kOutline);
    p.setBrush(QColor(0, 0, 160));
    p.drawPolygon(QPolygon({{1, 1}, {13, 1}, {14, 2}, {14, 14}, {1, 14}}));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(192, 192, 192)); // metal shutter with its window
    p.drawRect(4, 2, 7, 4);
    p.setBrush(QColor(0, 0, 160));
    p.drawRect(8, 3, 2, 2);
    p.setBrush(Qt::white); // label
    p.drawRect(3, 8, 10, 6);
    p.setPen(QColor(128, 128, 128));
    p.drawLine(4, 10, 11, 10);
    p.drawLine(4, 12, 11, 12);
}

void DrawPrinter(QPainter& p) {
    p.setPen(kOutline);
    p.setBrush(Qt::white); // paper going in
    p.drawRect(4, 1, 7, 5);
    p.setBrush(QColor(192, 192, 192)); // body
    p.drawRect(1, 6, 13, 6);
    p.setBrush(Qt::white); // page coming out
    p.drawRect(4, 10, 7, 4);
    p.setPen(QColor(128, 128, 128));
    p.drawLine(5, 12, 9, 12);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 192, 0)); // power light
    p.drawRect(11, 8, 2, 1);
}

// A solid triangle pointing left or right, 6 wide and 11 high, its flat side at x = base.
void DrawArrowHead(QPainter& p, int base, bool right) {
    const int tip = right ? base + 5 : base - 5;
    p.drawPolygon(QPolygon({{base, 2}, {tip, 7}, {base, 12}}));
}

void DrawArrows(QPainter& p, int id) {
    p.setPen(kOutline);
    p.setBrush(kOutline);
    switch (id) {
    case kIconNext:
        DrawArrowHead(p, 5, true);
        break;
    case kIconPrevious:
        DrawArrowHead(p, 10, false);
        break;
    case kIconLast:
        DrawArrowHead(p, 2, true);
        DrawArrowHead(p, 8, true);
        p.drawRect(14, 2, 0, 10);
        break;
    case kIconFirst:
        DrawArrowHead(p, 13, false);
        DrawArrowHead(p, 7, false);
        p.drawRect(1, 2, 0, 10);
        break;
    default:
        break;
    }
}

} // namespace

QImage DrawIconImage(const ImageInfo& info) {
    QImage image(info.width, info.height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    switch (info.id) {
    case kIconDisk:
        DrawDisk(p);
        break;
    case kIconPrinter:
        DrawPrinter(p);
        break;
    default:
        DrawArrows(p, info.id);
        break;
    }
    return image;
}

} // namespace zelvox::res
