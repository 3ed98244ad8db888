// Scale rows of the gauge and the graph: which row a reading selects, and the table's own
// consistency (the needle reaches full deflection exactly at the range maximum).
#include "panes/ScaleTable.h"
#include "decode/Reading.h"
#include "res/Artwork.h"

#include <gtest/gtest.h>
#include <set>

using namespace zelvox;

namespace {

struct Case {
    std::uint8_t functionCode;
    std::uint8_t pointPosition;
    double value;
    std::uint16_t row;
};

// One reading for every row of the table, and the alternatives of rows chosen by several
// decimal points.
const Case kEveryRow[] = {
    {1, 1, 0, 1},   {1, 2, 0, 2},   {1, 3, 0, 3},   {1, 0, 0, 4},   {2, 2, 0, 5},   {3, 1, 0, 6},
    {3, 2, 0, 7},   {3, 3, 0, 8},   {3, 0, 0, 9},   {4, 3, 0, 10},  {11, 1, 0, 11}, {12, 1, 0, 12},
    {12, 2, 0, 13}, {12, 0, 0, 14}, {12, 3, 0, 14}, {13, 1, 0, 15}, {13, 0, 0, 16}, {13, 2, 0, 16},
    {13, 3, 0, 16}, {21, 1, 0, 17}, {22, 0, 0, 18}, {14, 1, 0, 19}, {14, 2, 0, 20}, {14, 0, 0, 21},
    {14, 3, 0, 21}, {15, 1, 0, 22}, {15, 2, 0, 23}, {15, 3, 0, 24}, {16, 1, 0, 25}, {16, 0, 0, 26},
    {16, 2, 0, 26}, {16, 3, 0, 26}, {18, 1, 0, 27}, {18, 2, 0, 28}, {18, 0, 0, 29}, {18, 3, 0, 29},
    {19, 2, 0, 30}, {20, 1, 0, 31}, {25, 1, 0, 32}, {25, 2, 0, 33}, {25, 0, 0, 34}, {25, 3, 0, 34},
    {26, 1, 0, 35}, {27, 1, 0, 36}, {27, 2, 0, 37}, {27, 0, 0, 38}, {27, 3, 0, 38}, {10, 3, 0, 41},
    {10, 0, 0, 42}, {10, 1, 0, 42}, {10, 2, 0, 42}, {9, 2, 0, 43},  {9, 0, 0, 44},  {9, 1, 0, 44},
    {9, 3, 0, 44},  {8, 1, 0, 45},  {8, 0, 0, 46},  {8, 2, 0, 46},  {8, 3, 0, 46},  {7, 3, 0, 47},
    {7, 0, 0, 48},  {7, 1, 0, 48},  {7, 2, 0, 48},  {6, 2, 0, 49},  {6, 0, 0, 50},  {6, 1, 0, 50},
    {6, 3, 0, 50},  {5, 1, 0, 51},  {5, 0, 0, 52},  {5, 2, 0, 52},  {5, 3, 0, 52},
};

// Temperature: bounds inclusive, +-50 first, then +-600, then +-1000, overloads beyond.
const Case kTemperature[] = {
    {23, 1, 0.0, 53},       {23, 1, 50.0, 53},       {23, 1, -50.0, 53},  {23, 1, 50.1, 54},
    {23, 1, -50.1, 54},     {23, 1, 600.0, 54},      {23, 1, -600.0, 54}, {23, 1, 600.1, 55},
    {23, 1, 1000.0, 55},    {23, 1, -1000.0, 55},    {23, 1, 1000.1, 39}, {23, 1, -1000.1, 39},
    {23, 1, kOverload, 39}, {23, 0, -kOverload, 39}, {24, 1, 50.0, 56},   {24, 1, -50.1, 57},
    {24, 1, 600.0, 57},     {24, 1, -600.1, 58},     {24, 1, 1000.0, 58}, {24, 1, 1000.1, 40},
    {24, 1, kOverload, 40},
};

} // namespace

TEST(ScaleTable, EveryRowIsSelectedByItsFunctionAndPoint) {
    std::set<std::uint16_t> seen;
    for (const Case& c : kEveryRow) {
        EXPECT_EQ(SelectScale(c.functionCode, c.pointPosition, c.value), c.row)
            << "functionCode " << int(c.functionCode) << " pointPosition " << int(c.pointPosition);
        seen.insert(c.row);
    }
    for (const Case& c : kTemperature)
        seen.insert(c.row);
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kScaleRows - 1)); // every row but the fall-back
}

TEST(ScaleTable, TemperatureBoundsAreInclusiveAndTestedInOrder) {
    for (const Case& c : kTemperature)
        EXPECT_EQ(SelectScale(c.functionCode, c.pointPosition, c.value), c.row)
            << "functionCode " << int(c.functionCode) << " value " << c.value;
}

TEST(ScaleTable, UnknownFunctionsFallBackToRowZeroForTheGaugeAndRowOneForTheGraph) {
    const Case fallBacks[] = {
        {0, 1, 1.0, 0}, {17, 2, 12.0, 0}, {17, 0, 0.0, 0}, {28, 1, 0, 0}, {255, 1, 0, 0}};
    for (const Case& c : fallBacks) {
        EXPECT_EQ(GaugeScale(c.functionCode, c.pointPosition, c.value), 0) << int(c.functionCode);
        EXPECT_EQ(TrendScale(c.functionCode, c.pointPosition, c.value), 1) << int(c.functionCode);
    }
    EXPECT_EQ(TrendScale(1, 2, 0.0), 2); // a matching row is kept
}

TEST(ScaleTable, PointPositionBeyondThreeMatchesOnlyRowsThatIgnoreIt) {
    EXPECT_EQ(SelectScale(2, 7, 0.0), 5);   // DCV mV: any
    EXPECT_EQ(SelectScale(21, 4, 0.0), 17); // DIODE: any
    EXPECT_EQ(SelectScale(1, 4, 0.0), 0);   // DCV V: by point only
    EXPECT_EQ(SelectScale(27, 9, 0.0), 0);
    EXPECT_EQ(SelectScale(23, 9, 20.0), 53); // temperature goes by value
}

// The dial numbers must meet the needle: range maximum / divisor = dial full scale, so a
// reading at the range maximum swings the needle exactly to the end of the dial.
TEST(ScaleTable, RangeMaximumLandsOnDialFullScale) {
    for (int s = 1; s < kScaleRows; ++s) {
        const ScaleRow& row = scaleTable[s];
        const double divisor = row.rangeMaximum <= 10     ? 1
                               : row.rangeMaximum <= 100  ? 10
                               : row.rangeMaximum <= 1000 ? 100
                                                          : 1000;
        EXPECT_DOUBLE_EQ(row.rangeMaximum / divisor, row.dialFullScale) << "row " << s;
        // The graph spans the same range; angle and kRPM run from 0 to twice the maximum.
        const bool offset = s >= 35 && s <= 38;
        EXPECT_DOUBLE_EQ(row.trendFullScale, offset ? 2 * row.rangeMaximum : row.rangeMaximum) << "row " << s;
        EXPECT_NE(res::FindImage(row.dialImage), nullptr) << "row " << s << " image " << row.dialImage;
    }
    EXPECT_EQ(scaleTable[0].dialImage, 133);
    EXPECT_EQ(scaleTable[0].dialFullScale, 6);
}
