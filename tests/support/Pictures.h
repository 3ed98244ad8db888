// What a widget shows, as the tests read it: a grab in 32-bit RGB and the colours the panes use.
#pragma once

#include <QImage>
#include <QWidget>

namespace zelvox::testing {

inline QImage Grab(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline QRgb Pixel(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFF;
}

constexpr QRgb kRed = 0xFF0000;
constexpr QRgb kBlue = 0x0000FF;
constexpr QRgb kGrey = 0xDCDCDC;
constexpr QRgb kWhite = 0xFFFFFF;

} // namespace zelvox::testing
