#include "panes/ScaleTable.h"

#include "decode/FunctionCode.h"
#include "res/Artwork.h"

#include <iterator>

namespace zelvox {

// range maximum, dial full scale, dial image, trend full scale
const std::array<ScaleRow, kScaleRows> scaleTable = {{
    {1, 6, res::kDial6, 0},              // 0  nothing recognised (gauge only)
    {6, 6, res::kDial6, 6},              // 1  DCV V .1
    {60, 6, res::kDial60, 60},           // 2  DCV V .2
    {600, 6, res::kDial600, 600},        // 3  DCV V .3
    {1000, 10, res::kDial1000, 1000},    // 4  DCV V .0
    {600, 6, res::kDial600, 600},        // 5  DCV mV
    {6, 6, res::kDial6, 6},              // 6  ACV V .1
    {60, 6, res::kDial60, 60},           // 7  ACV V .2
    {600, 6, res::kDial600, 600},        // 8  ACV V .3
    {1000, 10, res::kDial1000, 1000},    // 9  ACV V .0
    {600, 6, res::kDial600, 600},        // 10 ACV mV
    {600, 6, res::kDial600, 600},        // 11 OHM
    {6, 6, res::kDial6, 6},              // 12 OHM k .1
    {60, 6, res::kDial60, 60},           // 13 OHM k .2
    {600, 6, res::kDial600, 600},        // 14 OHM k .0/.3
    {6, 6, res::kDial6, 6},              // 15 OHM M .1
    {60, 6, res::kDial60, 60},           // 16 OHM M .0/.2/.3
    {3, 3, res::kDialDiode3, 3},         // 17 DIODE
    {600, 6, res::kDial600, 600},        // 18 continuity
    {10, 10, res::kDial10, 10},          // 19 CAP nF .1
    {100, 10, res::kDial100, 100},       // 20 CAP nF .2
    {1000, 10, res::kDial1000, 1000},    // 21 CAP nF .0/.3
    {10, 10, res::kDial10, 10},          // 22 CAP uF .1
    {100, 10, res::kDial100, 100},       // 23 CAP uF .2
    {1000, 10, res::kDial1000, 1000},    // 24 CAP uF .0/.3
    {10, 10, res::kDial10, 10},          // 25 CAP mF .1
    {100, 10, res::kDial100, 100},       // 26 CAP mF .0/.2/.3
    {10, 10, res::kDial10, 10},          // 27 FRE kHz .1
    {100, 10, res::kDial100, 100},       // 28 FRE kHz .2
    {1000, 10, res::kDial1000, 1000},    // 29 FRE kHz .0/.3
    {10, 10, res::kDial10, 10},          // 30 FRE MHz
    {100, 10, res::kDial100, 100},       // 31 DUTY
    {10, 10, res::kDial10, 10},          // 32 ms .1
    {100, 10, res::kDial100, 100},       // 33 ms .2
    {1000, 10, res::kDial1000, 1000},    // 34 ms .0/.3
    {90, 9, res::kDialAngle0180, 180},   // 35 angle
    {5, 5, res::kDialKrpm010, 10},       // 36 kRPM .1
    {50, 5, res::kDialKrpm0100, 100},    // 37 kRPM .2
    {500, 5, res::kDialKrpm01000, 1000}, // 38 kRPM .0/.3
    {2000, 2, res::kDial2000, 2000},     // 39 TMP C beyond +-1000
    {2000, 2, res::kDial2000, 2000},     // 40 TMP F beyond +-1000
    {600, 6, res::kDial600, 600},        // 41 ACA uA .3
    {6000, 6, res::kDial6000, 6000},     // 42 ACA uA .0/.1/.2
    {60, 6, res::kDial60, 60},           // 43 ACA mA .2
    {600, 6, res::kDial600, 600},        // 44 ACA mA .0/.1/.3
    {6, 6, res::kDial6, 6},              // 45 ACA A .1
    {60, 6, res::kDial60, 60},           // 46 ACA A .0/.2/.3
    {600, 6, res::kDial600, 600},        // 47 DCA uA .3
    {6000, 6, res::kDial6000, 6000},     // 48 DCA uA .0/.1/.2
    {60, 6, res::kDial60, 60},           // 49 DCA mA .2
    {600, 6, res::kDial600, 600},        // 50 DCA mA .0/.1/.3
    {6, 6, res::kDial6, 6},              // 51 DCA A .1
    {60, 6, res::kDial60, 60},           // 52 DCA A .0/.2/.3
    {50, 5, res::kDial50, 50},           // 53 TMP C within +-50
    {600, 6, res::kDial600, 600},        // 54 TMP C within +-600
    {1000, 10, res::kDial1000, 1000},    // 55 TMP C within +-1000
    {50, 5, res::kDial50, 50},           // 56 TMP F within +-50
    {600, 6, res::kDial600, 600},        // 57 TMP F within +-600
    {1000, 10, res::kDial1000, 1000},    // 58 TMP F within +-1000
}};

namespace {

// Rows by functionCode and pointPosition 0..3 (0 = no row). A function whose row does not
// depend on the decimal point is marked `anyPoint` and matches every pointPosition.
struct FunctionRows {
    std::uint8_t byPoint[4];
    bool anyPoint;
};

constexpr FunctionRows kRows[] = {
    {{0, 0, 0, 0}, false},     // 0  no define
    {{4, 1, 2, 3}, false},     // 1  DCV V
    {{5, 5, 5, 5}, true},      // 2  DCV mV
    {{9, 6, 7, 8}, false},     // 3  ACV V
    {{10, 10, 10, 10}, true},  // 4  ACV mV
    {{52, 51, 52, 52}, false}, // 5  DCA A
    {{50, 50, 49, 50}, false}, // 6  DCA mA
    {{48, 48, 48, 47}, false}, // 7  DCA uA
    {{46, 45, 46, 46}, false}, // 8  ACA A
    {{44, 44, 43, 44}, false}, // 9  ACA mA
    {{42, 42, 42, 41}, false}, // 10 ACA uA
    {{11, 11, 11, 11}, true},  // 11 OHM
    {{14, 12, 13, 14}, false}, // 12 OHM k
    {{16, 15, 16, 16}, false}, // 13 OHM M
    {{21, 19, 20, 21}, false}, // 14 CAP nF
    {{24, 22, 23, 24}, false}, // 15 CAP uF
    {{26, 25, 26, 26}, false}, // 16 CAP mF
    {{0, 0, 0, 0}, false},     // 17 FRE Hz
    {{29, 27, 28, 29}, false}, // 18 FRE kHz
    {{30, 30, 30, 30}, true},  // 19 FRE MHz
    {{31, 31, 31, 31}, true},  // 20 DUTY
    {{17, 17, 17, 17}, true},  // 21 DIODE
    {{18, 18, 18, 18}, true},  // 22 continuity
    {{0, 0, 0, 0}, false},     // 23 TMP C (by value)
    {{0, 0, 0, 0}, false},     // 24 TMP F (by value)
    {{34, 32, 33, 34}, false}, // 25 ms
    {{35, 35, 35, 35}, true},  // 26 angle
    {{38, 36, 37, 38}, false}, // 27 kRPM
};
static_assert(std::size(kRows) == 28);

// Temperature rows: within +-50, +-600, +-1000 (bounds inclusive), then beyond.
struct TemperatureRows {
    std::uint8_t within50, within600, within1000, beyond;
};
constexpr TemperatureRows kCelsiusRows{53, 54, 55, 39};
constexpr TemperatureRows kFahrenheitRows{56, 57, 58, 40};

std::uint16_t TemperatureRow(const TemperatureRows& rows, double value) {
    if (value >= -50.0 && value <= 50.0)
        return rows.within50;
    if (value >= -600.0 && value <= 600.0)
        return rows.within600;
    if (value >= -1000.0 && value <= 1000.0)
        return rows.within1000;
    return rows.beyond;
}

} // namespace

std::uint16_t SelectScale(std::uint8_t functionCode, std::uint8_t pointPosition, double value) {
    if (functionCode == kCelsius)
        return TemperatureRow(kCelsiusRows, value);
    if (functionCode == kFahrenheit)
        return TemperatureRow(kFahrenheitRows, value);
    if (functionCode >= std::size(kRows))
        return 0;
    const FunctionRows& rows = kRows[functionCode];
    if (pointPosition < 4)
        return rows.byPoint[pointPosition];
    return rows.anyPoint ? rows.byPoint[0] : 0;
}

} // namespace zelvox
