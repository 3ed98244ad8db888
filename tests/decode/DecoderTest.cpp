#include "decode/Decoder.h"
#include "FrameBits.h"
#include "decode/Format.h"
#include "decode/FrameEncoder.h"
#include "decode/FunctionCode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

namespace zelvox {
namespace {

using test::FrameWithBits;

TEST(DecodeValue, HandBuiltFrameMatchesTheWireLayout) {
    // Blank, 1, 2, 3 with the point between digits 2 and 3: lower bytes carry B G C D, upper
    // bytes A F E and the point.
    Frame f{};
    f[0] = kStartByte;
    f[10] = 0x0A; // digit 2 "1": B C
    f[11] = 0x00;
    f[8] = 0x0D;        // digit 3 "2": B G D
    f[9] = 0x0A | 0x01; // digit 3 "2": A E, plus the point bit
    f[6] = 0x0F;        // digit 4 "3": B G C D
    f[7] = 0x08;        // digit 4 "3": A
    f = test::WithChecksum(f);
    const Reading r = DecodeFrame(f);
    EXPECT_EQ(r.value, 1.23);
    EXPECT_EQ(r.pointPosition, 2);
    EXPECT_EQ(r.functionCode, 0);
    EXPECT_EQ(*EncodeReading("1.23", kNoFunction), f);
    EXPECT_EQ(DigitCode(f, 1), 0x00);
    EXPECT_EQ(DigitCode(f, 3), 0xAD) << "the point bit takes no part in the digit code";
}

struct ValueCase {
    const char* text;
    double value;
    int pointPosition;
};

TEST(DecodeValue, Table) {
    const ValueCase cases[] = {
        {"1.23", 1.23, 2},      {"1.234", 1.234, 1},      {"-12.3", -12.3, 3},   {"9999", 9999, 0},
        {"   5", 5, 0},         {"5   ", 5000, 0},        {" 1 3", 103, 0},      {"0.000", 0.0, 1},
        {"8.888", 8.888, 1},    {"-0.5", -0.5, 3},        {".5", 0.5, 3},        {"", 0.0, 0},
        {"1L23", kOverload, 0}, {"-1L23", -kOverload, 0}, {"0.L", kOverload, 3}, {"-0L", -kOverload, 0},
        {"E", kOverload, 0},    {"1--", kOverload, 0},    {"O.L", kOverload, 3}, {"12.-", kOverload, 3},
    };
    for (const auto& c : cases) {
        const auto frame = EncodeReading(c.text, 0);
        ASSERT_TRUE(frame) << c.text;
        std::uint8_t pp = 99;
        EXPECT_EQ(DecodeValue(*frame, &pp), c.value) << c.text;
        EXPECT_EQ(pp, c.pointPosition) << c.text;
    }
}

TEST(DecodeValue, NegativeZeroIsNotOverload) {
    const Reading r = DecodeFrame(*EncodeReading("-0.000", kDcVolt));
    EXPECT_EQ(r.value, 0.0);
    EXPECT_TRUE(std::signbit(r.value));
    EXPECT_FALSE(IsOverload(r.value));
    EXPECT_EQ(FormatValue(r.value, r.pointPosition), u"-0.000");
}

TEST(DecodeValue, TwoPointsAreOverloadKeepingTheFirstPoint) {
    Display d = *DisplayFor("1234", 1);
    d.pointAfterDigit = 1;
    d.extraBits[7 - 1] |= 1; // second point, between digits 3 and 4
    Reading r = DecodeFrame(EncodeFrame(d));
    EXPECT_EQ(r.value, kOverload);
    EXPECT_EQ(r.pointPosition, 1);
    EXPECT_EQ(r.functionCode, 1);

    d.minus = true;
    r = DecodeFrame(EncodeFrame(d));
    EXPECT_EQ(r.value, -kOverload);

    // Points 2 and 3 together.
    r = DecodeFrame(*EncodeReading("12.3.4", kNoFunction));
    EXPECT_EQ(r.value, kOverload);
    EXPECT_EQ(r.pointPosition, 2);
}

TEST(DecodeValue, EveryNumberRoundTripsThroughTheFrameAndItsText) {
    // Every display 0000..9999 at every point position and sign: decoding the frame and
    // formatting the reading gives the text shown.
    for (int pp = 0; pp <= 3; ++pp) {
        for (int n = 0; n <= 9999; ++n) {
            for (bool neg : {false, true}) {
                if (neg && n == 0 && pp == 0)
                    continue; // "%d" of negative zero is "0"
                std::string digits = std::to_string(n);
                const std::size_t decimals = pp == 0 ? 0 : 4 - static_cast<std::size_t>(pp);
                if (digits.size() <= decimals)
                    digits.insert(0, decimals + 1 - digits.size(), '0');
                std::string text = digits;
                if (decimals)
                    text.insert(text.size() - decimals, ".");
                if (neg)
                    text.insert(0, "-");
                const Reading r = DecodeFrame(*EncodeReading(text, 0));
                ASSERT_EQ(r.pointPosition, pp) << text;
                const std::u16string got = FormatValue(r.value, r.pointPosition);
                ASSERT_EQ(got, std::u16string(text.begin(), text.end())) << text;
            }
        }
    }
}

TEST(DecodeValue, UnknownDigitCodesAreOverload) {
    // Every code other than blank and the ten digits makes the display not a number,
    // whichever digit carries it. Bit 4 of a code cannot travel in a frame.
    for (int code = 0; code < 256; ++code) {
        if (code & 0x10)
            continue;
        const bool known = code == 0 || std::find(kDigitPatterns.begin(), kDigitPatterns.end(),
                                                  static_cast<std::uint8_t>(code)) != kDigitPatterns.end();
        for (int digit = 0; digit < 4; ++digit) {
            Display d = *DisplayFor("1111", 0);
            d.digits[static_cast<std::size_t>(digit)] = static_cast<std::uint8_t>(code);
            const Frame f = EncodeFrame(d);
            ASSERT_EQ(DigitCode(f, digit + 1), code);
            EXPECT_EQ(IsOverload(DecodeValue(f, nullptr)), !known) << "code " << code << " digit " << digit;
        }
    }
}

TEST(DecodeFunction, EveryCodeRoundTripsThroughTheEncoder) {
    for (int fc = 0; fc < 28; ++fc) {
        const auto f = EncodeReading("-1.234", fc);
        ASSERT_TRUE(f);
        EXPECT_EQ(DecodeFunction(*f), fc);
        EXPECT_EQ(DecodeFrame(*f).value, -1.234) << "annunciators do not disturb the digits";
    }
    EXPECT_FALSE(DisplayFor("1", 28));
    EXPECT_FALSE(DisplayFor("1", -1));
}

struct FunctionCase {
    std::initializer_list<std::pair<int, int>> bits;
    int code;
    const char* what;
};

TEST(DecodeFunction, OverlapsAndGaps) {
    const FunctionCase cases[] = {
        {{}, 0, "nothing lit"},
        {{{1, 15}, {16, 15}}, 0, "bytes without meaning"},
        {{{4, 1}, {3, 1}, {15, 4}}, 1, "volt and ampere: volt"},
        {{{4, 1}, {3, 1}, {15, 2}, {14, 3}}, 4, "volt AC milli with ampere and micro"},
        {{{4, 1}, {15, 6}}, 3, "AC wins over DC for volt"},
        {{{4, 1}, {3, 1}, {2, 1}, {17, 2}}, 0, "volt without AC or DC, others lit"},
        {{{2, 1}, {17, 12}}, 12, "ohm kilo and mega: kilo"},
        {{{2, 1}, {5, 4}}, 11, "ohm over diode"},
        {{{5, 4}, {5, 8}}, 21, "diode over continuity"},
        {{{5, 8}}, 22, "continuity"},
        {{{2, 4}}, 0, "farad alone"},
        {{{2, 6}, {14, 3}}, 14, "farad nano over milli and micro"},
        {{{2, 4}, {14, 3}}, 16, "farad milli over micro"},
        {{{2, 4}, {17, 2}}, 0, "farad alone stops at 0 before hertz"},
        {{{17, 14}}, 18, "hertz kilo and mega: kilo"},
        {{{17, 6}}, 19, "hertz mega"},
        {{{3, 8 | 2 | 4}}, 20, "duty before ms and degree"},
        {{{3, 2 | 4}}, 25, "ms before degree"},
        {{{18, 1}, {4, 4}}, 27, "kRPM before Celsius"},
        {{{4, 6}}, 23, "Celsius before Fahrenheit"},
        {{{4, 4}, {3, 1}, {15, 4}}, 23, "ampere looked at last"},
        {{{3, 1}, {15, 2}, {14, 3}}, 10, "ampere AC micro over milli"},
        {{{3, 1}, {15, 6}, {14, 2}}, 9, "ampere AC over DC"},
        {{{3, 1}, {14, 1}}, 0, "ampere without AC or DC"},
        {{{3, 1}, {15, 4}}, 5, "DCA A"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeFunction(FrameWithBits(c.bits)), c.code) << c.what;
}

TEST(SegmentMirror, OnlyChangedBitsInOrder) {
    constexpr int values[4] = {8, 4, 2, 1};
    EXPECT_EQ(SegmentPictureIndex(1, 8), 0);
    EXPECT_EQ(SegmentPictureIndex(18, 1), 71);

    const Frame base = *EncodeReading("-3.14", kDcMilliampere);
    Frame mirrored = base;
    std::vector<SegmentChange> changes;
    UpdateSegmentMirror(base, mirrored, changes);
    EXPECT_TRUE(changes.empty()) << "a steady display costs nothing";

    for (int k = 1; k <= 18; ++k) {
        for (int j = 0; j < 4; ++j) {
            Frame f = base;
            f[static_cast<std::size_t>(k)] ^= static_cast<std::uint8_t>(values[j]);
            f = test::WithChecksum(f);
            Frame m = base;
            changes.clear();
            UpdateSegmentMirror(f, m, changes);
            ASSERT_EQ(changes.size(), 1u) << k << "/" << values[j];
            EXPECT_EQ(changes[0].picture, 4 * (k - 1) + j);
            EXPECT_EQ(changes[0].show, (f[static_cast<std::size_t>(k)] & values[j]) != 0);
            EXPECT_EQ(m, f);
        }
    }

    // All dark to all lit: 72 shows in picture order; back again: 72 hides.
    Frame dark{}, lit{};
    lit[0] = kStartByte;
    for (std::size_t i = 1; i <= 18; ++i)
        lit[i] = 15;
    lit[19] = 14;
    changes.clear();
    UpdateSegmentMirror(lit, dark, changes);
    ASSERT_EQ(changes.size(), 72u);
    for (int i = 0; i < 72; ++i)
        EXPECT_EQ(changes[static_cast<std::size_t>(i)], (SegmentChange{i, true}));
    EXPECT_EQ(dark, lit);
    Frame off{};
    changes.clear();
    UpdateSegmentMirror(off, dark, changes);
    ASSERT_EQ(changes.size(), 72u);
    EXPECT_EQ(changes.back(), (SegmentChange{71, false}));

    // Changes are appended, not replacing what the caller already holds; start and checksum
    // bytes never produce changes.
    changes.assign(1, SegmentChange{5, true});
    Frame a{}, b{};
    b[0] = kStartByte;
    b[19] = 0x77;
    UpdateSegmentMirror(b, a, changes);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(a, b);
}

TEST(FrameEncoder, AlwaysBuildsValidFrames) {
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        Display d;
        for (auto& c : d.digits)
            c = static_cast<std::uint8_t>(rng());
        d.pointAfterDigit = static_cast<int>(rng() % 5);
        d.minus = rng() % 2;
        // Random annunciators (high bits too, which must not leak out), none on digit bytes.
        for (std::size_t b : {0u, 1u, 2u, 3u, 4u, 13u, 14u, 15u, 16u, 17u})
            d.extraBits[b] = static_cast<std::uint8_t>(rng() % 4 == 0 ? rng() : 0);
        const Frame f = EncodeFrame(d);
        ASSERT_TRUE(CheckFrame(f));
        for (int digit = 1; digit <= 4; ++digit)
            EXPECT_EQ(DigitCode(f, digit) & ~0x10, d.digits[static_cast<std::size_t>(digit - 1)] & ~0x10);
    }
}

TEST(FrameEncoder, RejectsWhatItCannotShow) {
    for (const char* bad : {"12345", "1.2345", "x", "5.", "1..", "1+2", "--8888"})
        EXPECT_FALSE(DisplayFor(bad, 1)) << bad;
    // A lone "-" is a minus sign over a blank display.
    const auto d = DisplayFor("-", 0);
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->minus);
    EXPECT_EQ(DecodeValue(EncodeFrame(*d), nullptr), -0.0);
}

} // namespace
} // namespace zelvox
