// Meter frames for tests, built with the program's own encoder.
#pragma once

#include "decode/FrameEncoder.h"

#include <array>
#include <cstdint>

namespace zelvox::testing {

// The frame whose 18 nibble bytes are `nibbles` (low 4 bits each), with start byte and checksum.
inline Frame FrameOfNibbles(const std::array<std::uint8_t, 18>& nibbles) {
    Display display;
    for (std::size_t i = 0; i < nibbles.size(); ++i)
        display.extraBits[i] = nibbles[i] & 0x0F;
    return EncodeFrame(display);
}

} // namespace zelvox::testing
