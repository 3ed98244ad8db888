// A picture control that draws its image with one key colour left transparent. It stays a
// visible child of the display and is switched on and off with SetLit: an unlit picture paints
// nothing, so what lies beneath shows through exactly as if it were hidden. Showing and hiding a
// child widget would have Qt synthesise enter/leave events, which asks the window system where the
// cursor is: one round trip per switched segment.
#pragma once

#include <QBitmap>
#include <QColor>
#include <QImage>
#include <QWidget>

namespace zelvox {

class SegmentPicture : public QWidget {
    Q_OBJECT
public:
    explicit SegmentPicture(QWidget* parent = nullptr);

    void SetImage(const QImage& image);
    void SetKeyColour(QColor key);
    const QImage& Image() const { return image_; }
    // Lit: the image is drawn. Switching repaints only the picture's own rectangle.
    void SetLit(bool lit);
    bool IsLit() const { return lit_; }
    bool HasMask() const;
    // How many times the transparency mask was built: once per image, at its first paint.
    int MaskBuilds() const { return maskBuilds_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
    QColor key_{0, 0, 0};
    bool lit_ = true;
    QPixmap composed_; // image with key-coloured pixels transparent, built at the first lit paint
    int maskBuilds_ = 0;
};

} // namespace zelvox
