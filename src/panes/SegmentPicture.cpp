#include "panes/SegmentPicture.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

namespace zelvox {

SegmentPicture::SegmentPicture(QWidget* parent) : QWidget(parent) {
    // Nothing is erased under the picture: where the key colour is, the parent shows through.
    setAutoFillBackground(false);
}

void SegmentPicture::SetImage(const QImage& image) {
    image_ = image;
    composed_ = QPixmap(); // a new image needs a new mask
    update();
}

void SegmentPicture::SetKeyColour(QColor key) {
    key_ = key;
    composed_ = QPixmap();
    update();
}

void SegmentPicture::SetLit(bool lit) {
    if (lit == lit_)
        return;
    lit_ = lit;
    update();
}

bool SegmentPicture::HasMask() const {
    return !composed_.isNull();
}

QSize SegmentPicture::sizeHint() const {
    return image_.isNull() ? QSize() : image_.size();
}

void SegmentPicture::paintEvent(QPaintEvent*) {
    if (!lit_ || image_.isNull())
        return;
    if (composed_.isNull()) {
        // Built once from the client area: every pixel equal to the key colour becomes fully
        // transparent, every other one fully opaque. Drawing the result over the screen gives
        // what xor-image, and-mask, xor-image gives: the screen under key pixels, the image
        // elsewhere.
        const int w = std::min(width(), image_.width());
        const int h = std::min(height(), image_.height());
        QImage argb = image_.copy(0, 0, w, h).convertToFormat(QImage::Format_ARGB32);
        const QRgb key = key_.rgb() & 0x00FFFFFFu;
        for (int y = 0; y < h; ++y) {
            auto* line = reinterpret_cast<QRgb*>(argb.scanLine(y));
            for (int x = 0; x < w; ++x) {
                const QRgb rgb = line[x] & 0x00FFFFFFu;
                line[x] = rgb == key ? 0u : (rgb | 0xFF000000u);
            }
        }
        composed_ = QPixmap::fromImage(argb);
        ++maskBuilds_;
    }
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawPixmap(0, 0, composed_);
}

} // namespace zelvox
