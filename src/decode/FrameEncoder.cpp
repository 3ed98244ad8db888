#include "decode/FrameEncoder.h"

#include "decode/Decoder.h"
#include "decode/Labels.h"

#include <vector>

namespace zelvox {

namespace {

// One annunciator: nibble byte (1..18) and bit value.
struct Annunciator {
    std::uint8_t byte;
    std::uint8_t bit;
};

constexpr Annunciator kVolt{4, 1}, kAmpere{3, 1}, kOhm{2, 1}, kFarad{2, 4}, kNano{2, 2}, kHertz{17, 2};
constexpr Annunciator kAc{15, 2}, kDc{15, 4}, kMilli{14, 2}, kMicro{14, 1}, kKilo{17, 8}, kMega{17, 4};
constexpr Annunciator kDiode{5, 4}, kContinuity{5, 8}, kDuty{3, 8}, kMs{3, 2}, kDegree{3, 4};
constexpr Annunciator kKrpm{18, 1}, kCelsius{4, 4}, kFahrenheit{4, 2};

// The annunciators lit for each function code; the decoder reads exactly these back.
const std::array<std::vector<Annunciator>, kFunctionCount> kFunctionAnnunciators = {{
    {},                     // 0 no define
    {kVolt, kDc},           // 1 DCV V
    {kVolt, kDc, kMilli},   // 2 DCV mV
    {kVolt, kAc},           // 3 ACV V
    {kVolt, kAc, kMilli},   // 4 ACV mV
    {kAmpere, kDc},         // 5 DCA A
    {kAmpere, kDc, kMilli}, // 6 DCA mA
    {kAmpere, kDc, kMicro}, // 7 DCA uA
    {kAmpere, kAc},         // 8 ACA A
    {kAmpere, kAc, kMilli}, // 9 ACA mA
    {kAmpere, kAc, kMicro}, // 10 ACA uA
    {kOhm},                 // 11 OHM
    {kOhm, kKilo},          // 12 OHM K
    {kOhm, kMega},          // 13 OHM M
    {kFarad, kNano},        // 14 CAP nF
    {kFarad, kMicro},       // 15 CAP uF
    {kFarad, kMilli},       // 16 CAP mF
    {kHertz},               // 17 FRE Hz
    {kHertz, kKilo},        // 18 FRE KHz
    {kHertz, kMega},        // 19 FRE MHz
    {kDuty},                // 20 DUTY
    {kDiode},               // 21 DIODE
    {kContinuity},          // 22 continuity
    {kCelsius},             // 23 TMP C
    {kFahrenheit},          // 24 TMP F
    {kMs},                  // 25 ms
    {kDegree},              // 26 degree
    {kKrpm},                // 27 kRPM
}};

// Digit codes of the characters a display can show besides 0..9.
std::optional<std::uint8_t> CharCode(char c) {
    if (c >= '0' && c <= '9')
        return kDigitPatterns[static_cast<std::size_t>(c - '0')];
    switch (c) {
    case ' ':
        return 0x00;
    case 'L':
        return 0x61; // F E D
    case 'O':
        return 0xEB; // as 0
    case 'E':
        return 0xE5; // A F E G D
    case 'r':
        return 0x24; // E G
    case 'n':
        return 0x26; // E G C
    case '-':
        return 0x04; // G: a bar in a digit place
    default:
        return std::nullopt;
    }
}

} // namespace

Frame EncodeFrame(const Display& display) {
    Frame f{};
    f[0] = kStartByte;
    for (int digit = 1; digit <= 4; ++digit) {
        const std::uint8_t code = display.digits[static_cast<std::size_t>(digit - 1)];
        const auto upper = static_cast<std::size_t>(13 - 2 * (digit - 1));
        f[upper] |= static_cast<std::uint8_t>((code >> 4) & 0x0E);
        f[upper - 1] |= static_cast<std::uint8_t>(code & 0x0F);
    }
    switch (display.pointAfterDigit) {
    case 1:
        f[11] |= 1;
        break;
    case 2:
        f[9] |= 1;
        break;
    case 3:
        f[7] |= 1;
        break;
    default:
        break;
    }
    if (display.minus)
        f[13] |= 1;
    unsigned sum = 0;
    for (std::size_t i = 1; i <= 18; ++i) {
        f[i] |= static_cast<std::uint8_t>(display.extraBits[i - 1] & 0x0F);
        sum += f[i];
    }
    f[19] = static_cast<std::uint8_t>(sum & 0xFF);
    return f;
}

std::optional<Display> DisplayFor(std::string_view text, int functionCode) {
    if (functionCode < 0 || functionCode >= kFunctionCount)
        return std::nullopt;
    Display d;
    if (!text.empty() && text.front() == '-') {
        d.minus = true;
        text.remove_prefix(1);
    }
    // Digit codes in reading order, and after how many digits each point stands.
    std::vector<std::uint8_t> codes;
    std::vector<std::size_t> points;
    for (char c : text) {
        if (c == '.') {
            points.push_back(codes.size());
            continue;
        }
        const auto code = CharCode(c);
        if (!code || codes.size() == 4)
            return std::nullopt;
        codes.push_back(*code);
    }
    const std::size_t shift = 4 - codes.size(); // right-aligned
    for (std::size_t i = 0; i < codes.size(); ++i)
        d.digits[shift + i] = codes[i];
    for (std::size_t p : points) {
        const std::size_t after = shift + p; // point after this digit (1..3)
        if (after < 1 || after > 3)
            return std::nullopt;
        if (d.pointAfterDigit == 0) {
            d.pointAfterDigit = static_cast<int>(after);
        } else {
            static constexpr std::size_t kPointByte[4] = {0, 11, 9, 7};
            d.extraBits[kPointByte[after] - 1] |= 1;
        }
    }
    for (const Annunciator& a : kFunctionAnnunciators[static_cast<std::size_t>(functionCode)])
        d.extraBits[a.byte - 1u] |= a.bit;
    return d;
}

std::optional<Frame> EncodeReading(std::string_view text, int functionCode) {
    const auto d = DisplayFor(text, functionCode);
    if (!d)
        return std::nullopt;
    return EncodeFrame(*d);
}

} // namespace zelvox
