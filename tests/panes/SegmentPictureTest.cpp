// The transparent picture: drawn over a known background and compared, pixel by pixel, with the
// xor-image / and-mask / xor-image combination computed here independently.
#include "panes/SegmentPicture.h"
#include "support/Pictures.h"

#include <QPaintEvent>
#include <QPainter>
#include <QWidget>
#include <gtest/gtest.h>

using zelvox::testing::Grab;

namespace {

using zelvox::SegmentPicture;

// A host that paints a fixed background image and then its pictures, as the display does, so
// what shows through is known.
class Backdrop : public QWidget {
public:
    explicit Backdrop(QImage background) : background_(std::move(background)) {
        setFixedSize(background_.size());
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter p(this);
        p.drawImage(0, 0, background_);
        for (SegmentPicture* picture : findChildren<SegmentPicture*>())
            for (const QRect& r : event->region())
                picture->Paint(p, r);
    }

private:
    QImage background_;
};

QImage Filled(int w, int h, QRgb colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A background no picture pixel can be confused with: every pixel differs from its neighbours.
QImage Gradient(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(40 + 7 * x % 200, 30 + 11 * y % 200, 90 + 3 * (x + y) % 150));
    return image;
}

// The three raster operations of a colour-keyed block transfer, on 24-bit colours.
QRgb RasterCombine(QRgb screen, QRgb image, QRgb key) {
    const quint32 s = screen & 0xFFFFFFu;
    const quint32 i = image & 0xFFFFFFu;
    const quint32 mask = i == (key & 0xFFFFFFu) ? 0xFFFFFFu : 0u; // mono mask: 1 where key colour
    return ((s ^ i) & mask) ^ i;
}

struct Case {
    const char* name;
    QImage background;
    QImage picture;
    QRgb key;
};

std::vector<Case> Cases() {
    // A picture with key pixels, colours one step off the key, and other colours.
    QImage mixed(12, 8, QImage::Format_RGB32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x) {
            QRgb c = qRgb(0, 0, 0);
            if ((x + y) % 3 == 1)
                c = qRgb(0, 255, 0);
            else if ((x + y) % 3 == 2)
                c = (x % 2) ? qRgb(0, 0, 1) : qRgb(0, 128, 0);
            mixed.setPixel(x, y, c);
        }
    QImage magentaKeyed = mixed.copy();
    magentaKeyed.setPixel(3, 3, qRgb(255, 0, 255));
    magentaKeyed.setPixel(4, 3, qRgb(255, 0, 255));
    return {
        {"no key pixel: fully opaque", Gradient(30, 20), Filled(12, 8, qRgb(10, 200, 10)), qRgb(0, 0, 0)},
        {"all key pixels: background unchanged", Gradient(30, 20), Filled(12, 8, qRgb(0, 0, 0)),
         qRgb(0, 0, 0)},
        {"black key over black: like an opaque image", Filled(30, 20, qRgb(0, 0, 0)), mixed, qRgb(0, 0, 0)},
        {"black key over colour: only non-black drawn", Gradient(30, 20), mixed, qRgb(0, 0, 0)},
        {"another key colour: black is opaque", Gradient(30, 20), magentaKeyed, qRgb(255, 0, 255)},
    };
}

TEST(SegmentPicture, ComposesLikeTheKeyedRasterCombination) {
    const QPoint at(7, 5);
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        Backdrop backdrop(c.background);
        auto* picture = new SegmentPicture(&backdrop);
        picture->SetImage(c.picture);
        picture->SetKeyColour(QColor::fromRgb(c.key));
        picture->SetGeometry(QRect(at, c.picture.size()));
        backdrop.show();

        const QImage shot = Grab(backdrop);
        int mismatches = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const QPoint local = QPoint(x, y) - at;
                const QRgb screen = c.background.pixel(x, y);
                const QRgb want = QRect(QPoint(0, 0), c.picture.size()).contains(local)
                                      ? RasterCombine(screen, c.picture.pixel(local), c.key)
                                      : screen & 0xFFFFFFu;
                if ((shot.pixel(x, y) & 0xFFFFFFu) != want && ++mismatches <= 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << shot.pixel(x, y)
                                  << " want " << want;
            }
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(SegmentPicture, BuildsItsMaskOnceAndReusesIt) {
    Backdrop backdrop(Gradient(20, 20));
    auto* picture = new SegmentPicture(&backdrop);
    QImage image = Filled(10, 10, qRgb(0, 0, 0));
    image.setPixel(2, 2, qRgb(0, 255, 0));
    picture->SetImage(image);
    picture->SetGeometry(QRect(0, 0, 10, 10));
    EXPECT_FALSE(picture->HasMask());
    EXPECT_EQ(picture->MaskBuilds(), 0);

    backdrop.show();
    const QImage first = Grab(backdrop);
    EXPECT_TRUE(picture->HasMask());
    EXPECT_EQ(picture->MaskBuilds(), 1);

    // Unlit, it draws nothing: exactly what lies beneath, as if hidden. Lit again, it repaints
    // with the cached mask.
    picture->SetLit(false);
    EXPECT_FALSE(picture->IsLit());
    EXPECT_EQ(Grab(backdrop), Gradient(20, 20).convertToFormat(QImage::Format_RGB32));
    picture->SetLit(true);
    const QImage again = Grab(backdrop);
    backdrop.repaint();
    EXPECT_EQ(picture->MaskBuilds(), 1);
    EXPECT_EQ(again, first);
    EXPECT_EQ(again.pixel(2, 2) & 0xFFFFFFu, 0x00FF00u);

    // A new image needs a new mask.
    image.setPixel(2, 2, qRgb(0, 0, 0));
    image.setPixel(5, 5, qRgb(0, 255, 0));
    picture->SetImage(image);
    const QImage changed = Grab(backdrop);
    EXPECT_EQ(picture->MaskBuilds(), 2);
    EXPECT_EQ(changed.pixel(2, 2) & 0xFFFFFFu, Gradient(20, 20).pixel(2, 2) & 0xFFFFFFu);
    EXPECT_EQ(changed.pixel(5, 5) & 0xFFFFFFu, 0x00FF00u);
}

TEST(SegmentPicture, WithoutAnImageDrawsNothing) {
    const QImage background = Gradient(16, 16);
    Backdrop backdrop(background);
    auto* picture = new SegmentPicture(&backdrop);
    picture->SetGeometry(QRect(2, 2, 10, 10));
    backdrop.show();
    EXPECT_EQ(Grab(backdrop), background.convertToFormat(QImage::Format_RGB32));
    EXPECT_FALSE(picture->HasMask());
    EXPECT_EQ(picture->MaskBuilds(), 0);
}

} // namespace
