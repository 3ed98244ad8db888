// Where the 72 segment pictures of the LCD mirror sit, and which image each shows. Picture s
// mirrors bit value 8 >> (s % 4) of nibble byte s / 4 + 1 of a meter frame.
#pragma once

#include <array>
#include <cstdint>

namespace zelvox {

inline constexpr int kSegmentCount = 72;

struct SegmentPlace {
    int x; // top-left corner in the panel's client area
    int y;
    int imageId; // the picture is exactly as large as this image
};

const std::array<SegmentPlace, kSegmentCount>& SegmentLayout();

// The nibble byte (1..18) and bit mask (8, 4, 2, 1) that picture s mirrors.
constexpr int SegmentByte(int picture) {
    return picture / 4 + 1;
}
constexpr std::uint8_t SegmentMask(int picture) {
    return static_cast<std::uint8_t>(8 >> (picture % 4));
}

} // namespace zelvox
