// Turns an accepted frame into a reading, and lists the segment pictures a new frame changes.
#pragma once

#include "decode/Frame.h"
#include "decode/Reading.h"

#include <cstdint>
#include <vector>

namespace zelvox {

// The ten digit codes (segment bits A F E - B G C D) of the digits 0..9.
extern const std::array<std::uint8_t, 10> kDigitPatterns;

// Digit 1..4 (1 = most significant): its 8-bit code from the frame.
std::uint8_t DigitCode(const Frame& frame, int digit);

// Value and function decoding of one frame. Pure; cannot fail.
Reading DecodeFrame(const Frame& frame);
double DecodeValue(const Frame& frame, std::uint8_t* pointPosition);
std::uint8_t DecodeFunction(const Frame& frame);

// One show/hide request for segment picture `picture` (0..71, control id 2000 + picture).
struct SegmentChange {
    int picture;
    bool show;
    bool operator==(const SegmentChange&) const = default;
};

// Compares frame against mirrored, bit by bit (k = 1..18, bit values 8, 4, 2, 1 in that
// order), appends one change per differing bit to `changes`, then copies frame into mirrored.
void UpdateSegmentMirror(const Frame& frame, Frame& mirrored, std::vector<SegmentChange>& changes);

// Picture number of bit value v (8, 4, 2 or 1) of nibble byte k (1..18).
constexpr int SegmentPictureIndex(int k, int v) {
    return 4 * (k - 1) + (v == 8 ? 0 : v == 4 ? 1 : v == 2 ? 2 : 3);
}

} // namespace zelvox
