#include "panes/SegmentLayout.h"

#include "res/Artwork.h"

namespace zelvox {

const std::array<SegmentPlace, kSegmentCount>& SegmentLayout() {
    // clang-format off
    static constexpr std::array<SegmentPlace, kSegmentCount> table = {{
        // byte 1: lower-row numerals 8, 6, 5 and CYL
        {295, 153, res::kAnnNumeral8}, {280, 153, res::kAnnNumeral6}, {265, 153, res::kAnnNumeral5}, {310, 153, res::kAnnCyl},
        // byte 2: battery, F, n, ohm
        {270,   3, res::kAnnBattery}, {322,  95, res::kAnnFarad}, {308,  98, res::kAnnNano}, {295, 120, res::kAnnOhm},
        // byte 3: %, angle, ms, A
        {290,  30, res::kAnnPercent}, {290,  50, res::kAnnAngle}, {290,  70, res::kAnnMs}, {290,  95, res::kAnnAmpere},
        // byte 4: clock, degrees C, degrees F, V
        {260,  30, res::kAnnClock}, {260,  50, res::kAnnCelsius}, {260,  70, res::kAnnFahrenheit}, {280,  95, res::kAnnVolt},
        // byte 5: continuity, diode, MAX, MIN
        {150,   3, res::kAnnContinuity}, {130,   3, res::kAnnDiode}, {170,   3, res::kAnnMax}, {220,   3, res::kAnnMin},
        // bytes 6, 7: digit 4 B G C D, A F E; byte 7 bit 1: point between digits 3 and 4
        {240,  37, res::kSegVertical}, {205,  85, res::kSegHorizontal}, {240,  93, res::kSegVertical}, {205, 140, res::kSegHorizontal},
        {205,  30, res::kSegHorizontal}, {202,  37, res::kSegVertical}, {202,  93, res::kSegVertical}, {195, 140, res::kPoint34},
        // bytes 8, 9: digit 3; point between digits 2 and 3
        {185,  37, res::kSegVertical}, {150,  85, res::kSegHorizontal}, {185,  93, res::kSegVertical}, {150, 140, res::kSegHorizontal},
        {150,  30, res::kSegHorizontal}, {147,  37, res::kSegVertical}, {147,  93, res::kSegVertical}, {140, 140, res::kPoint23},
        // bytes 10, 11: digit 2; point between digits 1 and 2
        {130,  37, res::kSegVertical}, { 95,  85, res::kSegHorizontal}, {130,  93, res::kSegVertical}, { 95, 140, res::kSegHorizontal},
        { 95,  30, res::kSegHorizontal}, { 92,  37, res::kSegVertical}, { 92,  93, res::kSegVertical}, { 85, 140, res::kPoint12},
        // bytes 12, 13: digit 1; minus sign
        { 75,  37, res::kSegVertical}, { 40,  85, res::kSegHorizontal}, { 75,  93, res::kSegVertical}, { 40, 140, res::kSegHorizontal},
        { 40,  30, res::kSegHorizontal}, { 37,  37, res::kSegVertical}, { 37,  93, res::kSegVertical}, {  5,  88, res::kAnnMinus},
        // byte 14: USB, REL, m, micro
        { 50,   3, res::kAnnUsb}, { 90,   3, res::kAnnRel}, {260,  95, res::kAnnMilli}, {265, 100, res::kAnnMicro},
        // byte 15: AUTO, DC, AC, hold
        {  5,   3, res::kAnnAuto}, {  5,  30, res::kAnnDc}, {  5,  50, res::kAnnAc}, {  5, 110, res::kAnnHold},
        // byte 16: +TRIG, -TRIG, circled 2, circled 4
        {  5, 153, res::kAnnPlusTrig}, { 50, 153, res::kAnnMinusTrig}, { 95, 153, res::kAnnCircled2}, {115, 153, res::kAnnCircled4},
        // byte 17: K, M, Hz, DIS
        {260, 120, res::kAnnKilo}, {275, 120, res::kAnnMega}, {313, 120, res::kAnnHertz}, {140, 153, res::kAnnDis},
        // byte 18: lower-row numerals 2, 3, 4 and kRPM
        {220, 153, res::kAnnNumeral2}, {235, 153, res::kAnnNumeral3}, {250, 153, res::kAnnNumeral4}, {170, 153, res::kAnnKrpm},
    }};
    // clang-format on
    return table;
}

} // namespace zelvox
