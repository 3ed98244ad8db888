// The current reading: what one accepted frame says.
#pragma once

#include <cstdint>

namespace zelvox {

inline constexpr double kOverload = 999999.0;

struct Reading {
    double value = 0.0;             // sign and decimal point applied, or +-kOverload
    std::uint8_t pointPosition = 0; // 0..3
    std::uint8_t functionCode = 0;  // 0..27, index into functionLabels / unitLabels
};

inline bool IsOverload(double v) {
    return v == kOverload || v == -kOverload;
}

} // namespace zelvox
