#include "panes/SegmentLayout.h"

namespace zelvox {

const std::array<SegmentPlace, kSegmentCount>& SegmentLayout() {
    // clang-format off
    static constexpr std::array<SegmentPlace, kSegmentCount> table = {{
        // byte 1: lower-row numerals 8, 6, 5 and CYL
        {295, 153, 163}, {280, 153, 162}, {265, 153, 161}, {310, 153, 155},
        // byte 2: battery, F, n, ohm
        {270,   3, 157}, {322,  95, 166}, {308,  98, 180}, {295, 120, 181},
        // byte 3: %, angle, ms, A
        {290,  30, 154}, {290,  50, 170}, {290,  70, 177}, {290,  95, 151},
        // byte 4: clock, degrees C, degrees F, V
        {260,  30, 185}, {260,  50, 149}, {260,  70, 150}, {280,  95, 189},
        // byte 5: continuity, diode, MAX, MIN
        {150,   3, 173}, {130,   3, 165}, {170,   3, 175}, {220,   3, 176},
        // bytes 6, 7: digit 4 B G C D, A F E; byte 7 bit 1: point between digits 3 and 4
        {240,  37, 145}, {205,  85, 146}, {240,  93, 145}, {205, 140, 146},
        {205,  30, 146}, {202,  37, 145}, {202,  93, 145}, {195, 140, 192},
        // bytes 8, 9: digit 3; point between digits 2 and 3
        {185,  37, 145}, {150,  85, 146}, {185,  93, 145}, {150, 140, 146},
        {150,  30, 146}, {147,  37, 145}, {147,  93, 145}, {140, 140, 191},
        // bytes 10, 11: digit 2; point between digits 1 and 2
        {130,  37, 145}, { 95,  85, 146}, {130,  93, 145}, { 95, 140, 146},
        { 95,  30, 146}, { 92,  37, 145}, { 92,  93, 145}, { 85, 140, 190},
        // bytes 12, 13: digit 1; minus sign
        { 75,  37, 145}, { 40,  85, 146}, { 75,  93, 145}, { 40, 140, 146},
        { 40,  30, 146}, { 37,  37, 145}, { 37,  93, 145}, {  5,  88, 167},
        // byte 14: USB, REL, m, micro
        { 50,   3, 188}, { 90,   3, 184}, {260,  95, 178}, {265, 100, 179},
        // byte 15: AUTO, DC, AC, hold
        {  5,   3, 148}, {  5,  30, 156}, {  5,  50, 152}, {  5, 110, 168},
        // byte 16: +TRIG, -TRIG, circled 2, circled 4
        {  5, 153, 147}, { 50, 153, 186}, { 95, 153, 182}, {115, 153, 183},
        // byte 17: K, M, Hz, DIS
        {260, 120, 171}, {275, 120, 174}, {313, 120, 169}, {140, 153, 164},
        // byte 18: lower-row numerals 2, 3, 4 and kRPM
        {220, 153, 158}, {235, 153, 159}, {250, 153, 160}, {170, 153, 172},
    }};
    // clang-format on
    return table;
}

} // namespace zelvox
