#include "decode/Decoder.h"

#include "decode/FunctionCode.h"

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
            return milli ? kAcMillivolt : kAcVolt;
        if (dc)
            return milli ? kDcMillivolt : kDcVolt;
        return kNoFunction;
    }
    if (Bit(f, 2, 1)) // ohm
        return kilo ? kKiloOhm : mega ? kMegaOhm : kOhm;
    if (Bit(f, 5, 4)) // diode
        return kDiode;
    if (Bit(f, 5, 8)) // continuity
        return kContinuity;
    if (Bit(f, 2, 4)) { // farad: nano, then milli, then micro
        if (Bit(f, 2, 2))
            return kNanofarad;
        if (milli)
            return kMillifarad;
        if (micro)
            return kMicrofarad;
        return kNoFunction;
    }
    if (Bit(f, 17, 2)) // hertz
        return kilo ? kKilohertz : mega ? kMegahertz : kHertz;
    if (Bit(f, 3, 8))
        return kDutyCycle;
    if (Bit(f, 3, 2))
        return kMilliseconds;
    if (Bit(f, 3, 4))
        return kAngle;
    if (Bit(f, 18, 1))
        return kKiloRpm;
    if (Bit(f, 4, 4))
        return kCelsius;
    if (Bit(f, 4, 2))
        return kFahrenheit;
    if (Bit(f, 3, 1)) { // ampere: micro wins over milli
        if (ac)
            return micro ? kAcMicroampere : milli ? kAcMilliampere : kAcAmpere;
        if (dc)
            return micro ? kDcMicroampere : milli ? kDcMilliampere : kDcAmpere;
        return kNoFunction;
    }
    return kNoFunction;
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
