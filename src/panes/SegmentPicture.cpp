#include "panes/SegmentPicture.h"

#include <QPainter>
#include <QWidget>
#include <algorithm>

namespace zelvox {

SegmentPicture::SegmentPicture(QWidget* host) : QObject(host), host_(host) {}

void SegmentPicture::SetImage(const QImage& image) {
    image_ = image;
    composed_ = QImage(); // a new image needs a new mask
    Repaint();
}

void SegmentPicture::SetKeyColour(QColor key) {
    key_ = key;
    composed_ = QImage();
    Repaint();
}

void SegmentPicture::SetGeometry(const QRect& rect) {
    if (rect == geometry_)
        return;
    Repaint();
    if (rect.size() != geometry_.size())
        composed_ = QImage(); // the mask is built for the picture's size
    geometry_ = rect;
    Repaint();
}

bool SegmentPicture::SetLit(bool lit, bool repaint) {
    if (lit == lit_)
        return false;
    lit_ = lit;
    if (repaint)
        Repaint();
    return true;
}

void SegmentPicture::Repaint() {
    if (host_ && !geometry_.isEmpty())
        host_->update(geometry_);
}

void SegmentPicture::Paint(QPainter& painter, const QRect& area) {
    if (!lit_)
        return;
    const QRect part = area & geometry_;
    if (image_.isNull() || part.isEmpty())
        return;
    if (composed_.isNull()) {
        // Built once from the picture's area: every pixel equal to the key colour becomes fully
        // transparent, every other one fully opaque. Drawing the result over the screen gives
        // what xor-image, and-mask, xor-image gives: the screen under key pixels, the image
        // elsewhere.
        const int w = std::min(geometry_.width(), image_.width());
        const int h = std::min(geometry_.height(), image_.height());
        QImage argb = image_.copy(0, 0, w, h).convertToFormat(QImage::Format_ARGB32);
        const QRgb key = key_.rgb() & 0x00FFFFFFu;
        for (int y = 0; y < h; ++y) {
            auto* line = reinterpret_cast<QRgb*>(argb.scanLine(y));
            for (int x = 0; x < w; ++x) {
                const QRgb rgb = line[x] & 0x00FFFFFFu;
                line[x] = rgb == key ? 0u : (rgb | 0xFF000000u);
            }
        }
        composed_ = argb.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        ++maskBuilds_;
    }
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(part.topLeft(), composed_, part.translated(-geometry_.topLeft()));
}

} // namespace zelvox
