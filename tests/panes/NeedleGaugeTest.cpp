// The needle gauge: needle geometry, the row and offset a reading selects, and the painted pane.
#include "support/Pictures.h"
#include "support/SessionHub.h"

#include "panes/ScaleTable.h"

#include <gtest/gtest.h>
#include <memory>

using namespace zelvox;
using namespace zelvox::testing;

namespace {

struct TipCase {
    double shown; // gaugeValue as stored
    std::uint16_t scale;
    QPoint tip;
};

const TipCase kTips[] = {
    {0.0, 1, {205, 6}},         // upright
    {6.0, 1, {404, 204}},       // full right: cos is tiny, -203.99.. truncates to -203
    {-6.0, 1, {6, 204}},        // full left
    {12.34, 2, {268, 16}},      // 12.34 V on the 60 V dial: 1.234 of 6
    {2.5, 36, {345, 64}},       // 7.5 kRPM less the centre offset: 45 degrees right
    {kOverload, 1, {404, 204}}, // pinned right
    {-kOverload, 4, {6, 204}},  // pinned left on a 1000 dial
    {kOverload, 0, {205, 6}},   // row 0 never moves
    {-3.0, 17, {6, 204}},       // diode: 3 is the end of its dial
    {1500.0, 39, {388, 128}},   // 1.5 of 2 on the 2000 dial: 67.5 degrees
};

bool RedNear(const QImage& image, int x, int y) {
    for (int dx = -1; dx <= 1; ++dx)
        if (Pixel(image, x + dx, y) == kRed)
            return true;
    return false;
}

} // namespace

TEST(NeedleGaugeNeedle, TipsFollowTheTruncatingFormula) {
    for (const TipCase& c : kTips)
        EXPECT_EQ(NeedleGauge::NeedleTip(c.shown, c.scale), c.tip)
            << "value " << c.shown << " row " << c.scale;
}

TEST(NeedleGaugeNeedle, ReadingsChooseRowAndOffset) {
    struct Case {
        Reading reading;
        std::uint16_t scale;
        double stored;
        QPoint tip;
    };
    const Case cases[] = {
        {{12.34, 2, 1}, 2, 12.34, {268, 16}},
        {{7.5, 1, 27}, 36, 2.5, {345, 64}}, // kRPM: stored less the range maximum
        {{90.0, 0, 26}, 35, 0.0, {205, 6}}, // angle 90: upright
        {{180.0, 0, 26}, 35, 90.0, {404, 204}},
        {{250.0, 0, 26}, 35, 160.0, {404, 204}},
        {{0.0, 0, 26}, 35, -90.0, {6, 204}},
        {{kOverload, 1, 23}, 39, kOverload, {404, 204}},
        {{-kOverload, 1, 24}, 40, -kOverload, {6, 204}},
        {{5.0, 1, 17}, 0, 5.0, {205, 6}}, // FRE Hz has no row
        {{5.0, 1, 0}, 0, 5.0, {205, 6}},
    };
    auto gauge = MakeGauge();
    for (const Case& c : cases) {
        gauge->ShowReading(c.reading.functionCode, c.reading.pointPosition, c.reading.value);
        EXPECT_EQ(gauge->gaugeScale(), c.scale) << "value " << c.reading.value;
        EXPECT_DOUBLE_EQ(gauge->gaugeValue(), c.stored) << "value " << c.reading.value;
        Grab(*gauge); // a paint computes and keeps the tip
        EXPECT_EQ(gauge->ShownTip(), c.tip) << "value " << c.reading.value;
    }
}

TEST(NeedleGaugePane, PaintsDialNeedleAndStrip) {
    auto gauge = MakeGauge();
    EXPECT_EQ(gauge->dialSize(), QSize(410, 208)); // image 133, from the first update

    QImage image = Grab(*gauge);
    EXPECT_TRUE(RedNear(image, 205, 100)) << "upright needle";
    EXPECT_EQ(Pixel(image, 300, 100), kWhite) << "dial face";
    EXPECT_EQ(Pixel(image, 30, 33), kBlue) << "minus mark of a centre-zero dial";
    for (int y : {208, 215, 226})
        EXPECT_EQ(Pixel(image, 100, y), kGrey) << "strip below the dial, row " << y;

    gauge->ShowReading(1, 2, 12.34); // needle from (205, 204) to (268, 16)
    image = Grab(*gauge);
    EXPECT_EQ(Pixel(image, 205, 100), kWhite) << "the upright needle is gone";
    EXPECT_TRUE(RedNear(image, 236, 110)) << "halfway along the needle";
    EXPECT_TRUE(RedNear(image, 261, 37));
    EXPECT_FALSE(RedNear(image, 230, 37));
}

TEST(NeedleGaugePane, DialFollowsTheRow) {
    auto gauge = MakeGauge();
    gauge->ShowReading(27, 1, 5.0); // kRPM 0..10: dial 201, 207 rows, no sign marks
    QImage image = Grab(*gauge);
    EXPECT_EQ(gauge->dialSize(), QSize(410, 207));
    EXPECT_NE(Pixel(image, 30, 33), kBlue);
    EXPECT_TRUE(RedNear(image, 205, 100));

    gauge->ShowReading(1, 1, 5.0); // DCV V .1: row 1, dial 133 again
    image = Grab(*gauge);
    EXPECT_EQ(gauge->gaugeScale(), 1);
    EXPECT_EQ(Pixel(image, 30, 33), kBlue);

    gauge->ShowReading(1, 0, 500.0); // 1000 dial, 409 wide: the column beyond it is background
    image = Grab(*gauge);
    EXPECT_EQ(gauge->dialSize(), QSize(409, 208));
    EXPECT_EQ(Pixel(image, 409, 100), kGrey);
}

TEST(NeedleGaugePane, ResetReturnsToTheUprightDefaultDial) {
    auto gauge = MakeGauge();
    gauge->ShowReading(1, 1, -4.0);
    Grab(*gauge);
    EXPECT_NE(gauge->ShownTip(), QPoint(205, 6));
    gauge->Reset();
    EXPECT_EQ(gauge->gaugeScale(), 0);
    EXPECT_EQ(gauge->gaugeValue(), 0.0);
    const QImage image = Grab(*gauge);
    EXPECT_EQ(gauge->ShownTip(), QPoint(205, 6));
    EXPECT_EQ(gauge->dialSize(), QSize(410, 208));
    EXPECT_TRUE(RedNear(image, 205, 100));
}
