// A picture control that draws its image with one key colour left transparent.
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
    bool HasMask() const;
    // How many times the transparency mask was built: once per image, at its first paint.
    int MaskBuilds() const { return maskBuilds_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
    QColor key_{0, 0, 0};
    QPixmap composed_; // image with key-coloured pixels transparent, built at the first paint
    int maskBuilds_ = 0;
};

} // namespace zelvox
