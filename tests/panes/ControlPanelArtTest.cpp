// The LCD artwork: exact sizes, a black background, green figures with darker green edges.
#include "panes/SegmentLayout.h"
#include "res/Artwork.h"

#include <gtest/gtest.h>
#include <set>

namespace {

using namespace zelvox;

TEST(PanelArt, BackgroundIsAllBlackAtItsSize) {
    const QImage background = res::LoadImage(res::kLcdBackground);
    ASSERT_EQ(background.size(), QSize(338, 174));
    for (int y = 0; y < background.height(); ++y)
        for (int x = 0; x < background.width(); ++x)
            ASSERT_EQ(background.pixel(x, y) & 0xFFFFFF, 0u) << x << "," << y;
}

TEST(PanelArt, EverySegmentImageIsAGreenFigureOnBlack) {
    std::set<int> ids;
    for (const SegmentPlace& place : SegmentLayout())
        ids.insert(place.imageId);
    ASSERT_EQ(ids.size(), 46u); // the 28 digit segments share two bar images

    for (int id : ids) {
        SCOPED_TRACE(id);
        const res::ImageInfo* info = res::FindImage(id);
        ASSERT_NE(info, nullptr);
        const QImage image = res::LoadImage(id);
        ASSERT_EQ(image.size(), QSize(info->width, info->height));
        int black = 0, bright = 0, edge = 0, other = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb c = image.pixel(x, y);
                if ((c & 0xFFFFFF) == 0)
                    ++black;
                else if (qRed(c) != 0 || qBlue(c) != 0)
                    ++other;
                else if (qGreen(c) == 255)
                    ++bright;
                else
                    ++edge;
            }
        EXPECT_EQ(other, 0) << "only black and greens";
        EXPECT_GT(bright, 0);
        EXPECT_GT(edge, 0) << "darker green edges";
        EXPECT_GT(black, 0) << "the key colour around the figure";
    }
}

TEST(PanelArt, DigitBarsAreSolidWithBevelledEnds) {
    for (int id : {145, 146}) {
        SCOPED_TRACE(id);
        const QImage bar = res::LoadImage(id);
        const bool horizontal = bar.width() > bar.height();
        const int length = horizontal ? bar.width() : bar.height();
        const int across = horizontal ? bar.height() : bar.width();
        auto at = [&](int along, int side) {
            return horizontal ? bar.pixel(along, side) & 0xFFFFFF : bar.pixel(side, along) & 0xFFFFFF;
        };
        // The middle of the bar is lit all along its core; the corners are cut away.
        for (int along = length / 4; along < 3 * length / 4; ++along)
            EXPECT_EQ(at(along, across / 2), 0x00FF00u) << along;
        EXPECT_EQ(at(0, 0), 0u);
        EXPECT_EQ(at(length - 1, 0), 0u);
        EXPECT_EQ(at(0, across - 1), 0u);
        EXPECT_EQ(at(length - 1, across - 1), 0u);
    }
}

} // namespace
