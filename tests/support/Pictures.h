// What a widget shows, as the tests read it: a grab in 32-bit RGB and the colours the panes use.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QWidget>

namespace zelvox::testing {

inline QImage Grab(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline QRgb Pixel(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFF;
}

// The pixels of image within rect whose colour meets wanted(QRgb).
template <typename Wanted> int CountPixels(const QImage& image, const QRect& rect, Wanted wanted) {
    int n = 0;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += wanted(image.pixel(x, y)) ? 1 : 0;
    return n;
}

// The pages of the PDF file at path (-1 when it is no PDF).
inline int PdfPageCount(const QString& path) {
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    if (!bytes.startsWith("%PDF"))
        return -1;
    int count = 0;
    for (auto it = QRegularExpression(QStringLiteral("/Type\\s*/Page(?![a-zA-Z])"))
                       .globalMatch(QString::fromLatin1(bytes));
         it.hasNext(); it.next())
        ++count;
    return count;
}

constexpr QRgb kRed = 0xFF0000;
constexpr QRgb kBlue = 0x0000FF;
constexpr QRgb kGrey = 0xDCDCDC;
constexpr QRgb kWhite = 0xFFFFFF;

} // namespace zelvox::testing
