// The reverse of the decoder: a display (digits, points, sign, annunciators) to a 20-byte frame.
// Used by the simulated meter and the tests.
#pragma once

#include "decode/Frame.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelvox {

struct Display {
    // Four digit codes, digit 1 (most significant) first; 0x00 is blank.
    std::array<std::uint8_t, 4> digits{};
    // Decimal point after digit 1, 2 or 3 (0 = none); more than one can be lit via extraBits.
    int pointAfterDigit = 0;
    bool minus = false;
    // Raw annunciator/other bits ORed into nibble bytes 1..18 (index 0 = byte 1).
    std::array<std::uint8_t, 18> extraBits{};
};

// Builds the frame for a display, with start byte and checksum.
Frame EncodeFrame(const Display& display);

// A display for text such as "-1.234", "0L", " 5", "OL" (4 characters after removing '.' and
// '-'; spaces blank; 'L' the letter L; right-aligned when shorter), with the annunciators of
// functionCode (1..27; 0 = none). Returns nullopt for text it cannot show.
std::optional<Display> DisplayFor(std::string_view text, int functionCode);

// Convenience: the frame of DisplayFor, or nullopt.
std::optional<Frame> EncodeReading(std::string_view text, int functionCode);

} // namespace zelvox
