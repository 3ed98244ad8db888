#include "decode/Decoder.h"

namespace zelvox {

const std::array<std::uint8_t, 10> kDigitPatterns = {0xEB, 0x0A, 0xAD, 0x8F, 0x4E,
                                                     0xC7, 0xE7, 0x8A, 0xEF, 0xCF};

namespace {

bool Bit(const Frame& f, int byte, std::uint8_t mask) {
    return (f[static_cast<std::size_t>(byte)] & mask) != 0;
}

// Upper byte (segments A F E and the sign/point bit) of digit 1..4; the lower byte is the one before.
constexpr int UpperByte(int digit) {
    return 13 - 2 * (digit - 1);
}

} // namespace

std::uint8_t DigitCode(const Frame& frame, int digit) {
    const auto upper = static_cast<std::size_t>(UpperByte(digit));
    return static_cast<std::uint8_t>(((frame[upper] & 0x0E) << 4) | (frame[upper - 1] & 0x0F));
}

double DecodeValue(const Frame& frame, std::uint8_t* pointPosition) {
    const bool point1 = Bit(frame, 11, 1);
    const bool point2 = Bit(frame, 9, 1);
    const bool point3 = Bit(frame, 7, 1);
    const bool minus = Bit(frame, 13, 1);
    const std::uint8_t pp = point1 ? 1 : point2 ? 2 : point3 ? 3 : 0;
    if (pointPosition)
        *pointPosition = pp;

    const double overload = minus ? -kOverload : kOverload;
    double value = 0.0;
    double weight = 1000.0;
    for (int digit = 1; digit <= 4; ++digit, weight /= 10.0) {
        const std::uint8_t code = DigitCode(frame, digit);
        int found = -1;
        for (int i = 0; i < 10; ++i) {
            if (kDigitPatterns[static_cast<std::size_t>(i)] == code) {
                found = i;
                break;
            }
        }
        if (found >= 0)
            value += found * weight;
        else if (code != 0x00)
            return overload; // a letter or a bar: no number on the display
    }
    if (point1)
        value /= 1000.0;
    if (point2)
        value /= 100.0;
    if (point3)
        value /= 10.0;
    if (int(point1) + int(point2) + int(point3) > 1)
        return overload;
    if (minus)
        value *= -1.0;
    return value;
}

std::uint8_t DecodeFunction(const Frame& f) {
    const bool ac = Bit(f, 15, 2), dc = Bit(f, 15, 4);
    const bool milli = Bit(f, 14, 2), micro = Bit(f, 14, 1);
    const bool kilo = Bit(f, 17, 8), mega = Bit(f, 17, 4);

    if (Bit(f, 4, 1)) { // volt wins over everything
        if (ac)
            return milli ? 4 : 3;
        if (dc)
            return milli ? 2 : 1;
        return 0;
    }
    if (Bit(f, 2, 1)) // ohm
        return kilo ? 12 : mega ? 13 : 11;
    if (Bit(f, 5, 4)) // diode
        return 21;
    if (Bit(f, 5, 8)) // continuity
        return 22;
    if (Bit(f, 2, 4)) { // farad: nano, then milli, then micro
        if (Bit(f, 2, 2))
            return 14;
        if (milli)
            return 16;
        if (micro)
            return 15;
        return 0;
    }
    if (Bit(f, 17, 2)) // hertz
        return kilo ? 18 : mega ? 19 : 17;
    if (Bit(f, 3, 8))
        return 20;
    if (Bit(f, 3, 2))
        return 25;
    if (Bit(f, 3, 4))
        return 26;
    if (Bit(f, 18, 1))
        return 27;
    if (Bit(f, 4, 4))
        return 23;
    if (Bit(f, 4, 2))
        return 24;
    if (Bit(f, 3, 1)) { // ampere: micro wins over milli
        if (ac)
            return micro ? 10 : milli ? 9 : 8;
        if (dc)
            return micro ? 7 : milli ? 6 : 5;
        return 0;
    }
    return 0;
}

Reading DecodeFrame(const Frame& frame) {
    Reading r;
    r.value = DecodeValue(frame, &r.pointPosition);
    r.functionCode = DecodeFunction(frame);
    return r;
}

void UpdateSegmentMirror(const Frame& frame, Frame& mirrored, std::vector<SegmentChange>& changes) {
    static constexpr std::uint8_t kBitValues[4] = {8, 4, 2, 1};
    for (int k = 1; k <= 18; ++k) {
        const auto idx = static_cast<std::size_t>(k);
        if (frame[idx] == mirrored[idx])
            continue;
        for (std::uint8_t v : kBitValues) {
            const bool now = (frame[idx] & v) != 0;
            if (now != ((mirrored[idx] & v) != 0))
                changes.push_back({SegmentPictureIndex(k, v), now});
        }
    }
    mirrored = frame;
}

} // namespace zelvox
