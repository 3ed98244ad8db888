// One figure of the LCD picture: an image drawn with one key colour left transparent, at a fixed
// place on the display that hosts it. The host widget draws every lit picture in its own paint
// event, so a frame that switches twenty segments costs one paint of the changed rectangles
// rather than twenty child widgets for Qt to clip, stack and paint one by one. Switching a picture
// on or off asks the host to repaint only the picture's rectangle.
#pragma once

#include <QColor>
#include <QImage>
#include <QObject>
#include <QRect>

class QPainter;
class QWidget;

namespace zelvox {

class SegmentPicture : public QObject {
    Q_OBJECT
public:
    // host: the widget the picture is drawn on (its parent), in whose coordinates the geometry
    // is given. May be null for a picture drawn only through Paint.
    explicit SegmentPicture(QWidget* host = nullptr);

    void SetImage(const QImage& image);
    void SetKeyColour(QColor key);
    const QImage& Image() const { return image_; }
    void SetGeometry(const QRect& rect);
    const QRect& geometry() const { return geometry_; }
    QSize size() const { return geometry_.size(); }

    // Lit: the image is drawn. Switching repaints the picture's own rectangle of the host, unless
    // the caller repaints a larger area itself (repaint false). True if the state changed.
    bool SetLit(bool lit, bool repaint = true);
    bool IsLit() const { return lit_; }

    // Draws the part of the picture inside `area` (host coordinates) if lit: the image where it
    // differs from the key colour, what is already painted where it equals it.
    void Paint(QPainter& painter, const QRect& area);

    bool HasMask() const { return !composed_.isNull(); }
    // How many times the transparency mask was built: once per image, at its first paint.
    int MaskBuilds() const { return maskBuilds_; }

private:
    void Repaint();

    QWidget* host_;
    QImage image_;
    QColor key_{0, 0, 0};
    QRect geometry_;
    bool lit_ = true;
    QImage composed_; // image with key-coloured pixels transparent, built at the first lit paint
    int maskBuilds_ = 0;
};

} // namespace zelvox
