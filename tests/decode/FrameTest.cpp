#include "FrameBits.h"
#include "decode/FrameEncoder.h"
#include "decode/FunctionCode.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace zelvox {
namespace {

using test::WithChecksum;

TEST(CheckFrame, AcceptsAndRejects) {
    Frame blank{};
    blank[0] = kStartByte;
    EXPECT_TRUE(CheckFrame(blank)) << "18 zero nibbles with checksum 0 is a blank display";

    Frame full{};
    full[0] = kStartByte;
    for (std::size_t i = 1; i <= 18; ++i)
        full[i] = 15;
    full[19] = 14; // 270 - 256
    EXPECT_TRUE(CheckFrame(full));
    full[19] = 0x0E + 1;
    EXPECT_FALSE(CheckFrame(full));

    Frame noStart = blank;
    noStart[0] = 0xA4;
    EXPECT_FALSE(CheckFrame(noStart));

    // A high nibble set in any data byte rejects the frame even when the checksum matches.
    for (std::size_t i = 1; i <= 18; ++i) {
        Frame f = blank;
        f[i] = 0x10;
        f = WithChecksum(f);
        EXPECT_FALSE(CheckFrame(f)) << "byte " << i;
        f[i] = 0x1F;
        f = WithChecksum(f);
        EXPECT_FALSE(CheckFrame(f)) << "byte " << i;
    }

    // Every single-bit change of a valid frame's checksum is caught.
    const Frame good = *EncodeReading("1.234", kDcVolt);
    ASSERT_TRUE(CheckFrame(good));
    for (int bit = 0; bit < 8; ++bit) {
        Frame f = good;
        f[19] ^= static_cast<std::uint8_t>(1u << bit);
        EXPECT_FALSE(CheckFrame(f)) << "bit " << bit;
    }
}

// The frames accepted when the stream is fed in the given chunk sizes (cycled).
std::vector<Frame> Accepted(const std::vector<std::uint8_t>& stream, const std::vector<std::size_t>& chunks) {
    Framer framer;
    std::vector<Frame> out;
    std::size_t pos = 0, c = 0;
    while (pos < stream.size()) {
        const std::size_t n = std::min(chunks[c++ % chunks.size()], stream.size() - pos);
        framer.Feed(stream.data() + pos, n, [&](const Frame& f) { out.push_back(f); });
        pos += n;
    }
    return out;
}

void Append(std::vector<std::uint8_t>& s, const Frame& f) {
    s.insert(s.end(), f.begin(), f.end());
}

// A frame whose checksum byte is 0xA5 (nibble sum 165).
Frame FrameWithA5Checksum() {
    Frame f = *EncodeReading("8.888", kNoFunction);
    unsigned sum = 0;
    for (std::size_t i = 1; i <= 18; ++i)
        sum += f[i];
    // Top up annunciator bytes until the sum is 165.
    for (std::size_t i : {1u, 16u, 18u, 14u, 15u}) {
        const unsigned add = std::min(15u, 165u - sum);
        f[i] = static_cast<std::uint8_t>(f[i] + add);
        sum += add;
    }
    EXPECT_EQ(sum, 165u);
    return WithChecksum(f);
}

TEST(Framer, FillsInPiecesAndWantsTheRest) {
    const Frame f = *EncodeReading("-5.67", kDcMillivolt);
    Framer framer;
    EXPECT_EQ(framer.BytesWanted(), 1u);
    int count = 0;
    auto on = [&](const Frame& got) {
        ++count;
        EXPECT_EQ(got, f);
    };
    EXPECT_EQ(framer.Feed(f.data(), 1, on), 0u);
    EXPECT_TRUE(framer.Synchronised());
    EXPECT_EQ(framer.FillCount(), 1u);
    EXPECT_EQ(framer.BytesWanted(), 19u);
    EXPECT_EQ(framer.Feed(f.data() + 1, 7, on), 0u);
    EXPECT_EQ(framer.FillCount(), 8u);
    EXPECT_EQ(framer.BytesWanted(), 12u);
    EXPECT_EQ(framer.Feed(f.data() + 8, 11, on), 0u) << "one byte short is not a frame";
    EXPECT_EQ(framer.FillCount(), 19u);
    EXPECT_EQ(framer.Feed(f.data() + 19, 1, on), 1u);
    EXPECT_EQ(count, 1);
    EXPECT_FALSE(framer.Synchronised());
    EXPECT_EQ(framer.FillCount(), 0u);
    EXPECT_EQ(framer.BytesWanted(), 1u);

    // Reset drops a half-filled frame.
    framer.Feed(f.data(), 10, on);
    framer.Reset();
    EXPECT_FALSE(framer.Synchronised());
    EXPECT_EQ(framer.FillCount(), 0u);
    EXPECT_EQ(framer.Buffer(), Frame{});
    EXPECT_EQ(framer.Feed(f.data() + 10, 10, on), 0u);
    EXPECT_EQ(count, 1);
}

TEST(Framer, StrayBytesAndFalseStarts) {
    const Frame a5 = FrameWithA5Checksum();
    ASSERT_EQ(a5[19], 0xA5);
    const Frame b = *EncodeReading("12.34", kAcVolt);
    const Frame c = *EncodeReading("0.5", kOhm);
    const Frame d = *EncodeReading("-88", kFahrenheit);

    // Stray bytes, then switching on in the tail of a frame whose checksum is 0xA5: the false
    // frame starting there swallows b's start byte and is rejected; c is the first frame kept.
    std::vector<std::uint8_t> s = {0x00, 0x13, 0xFF, 0x07};
    s.insert(s.end(), a5.end() - 5, a5.end());
    Append(s, b);
    Append(s, c);
    Append(s, d);
    const auto got = Accepted(s, {1});
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], c);
    EXPECT_EQ(got[1], d);

    // In step, a 0xA5 checksum is just the frame's last byte.
    std::vector<std::uint8_t> t;
    Append(t, a5);
    Append(t, b);
    const auto inStep = Accepted(t, {1});
    ASSERT_EQ(inStep.size(), 2u);
    EXPECT_EQ(inStep[0], a5);

    // The bytes of a rejected frame are not searched again: a bad frame containing a
    // start byte of a good one in its body still loses that good frame.
    std::vector<std::uint8_t> u = {kStartByte, 1, 2, 3};
    Append(u, b); // b's first 16 bytes complete the bad frame; its tail is hunted over
    Append(u, c);
    const auto after = Accepted(u, {1});
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0], c);
}

TEST(Framer, ChunkingDoesNotChangeWhatIsAccepted) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> stream;
    const char* texts[] = {"1.234", "-0.001", "9999", "0L", "12.5", "-3.3", " 7", "8.8.8.8"};
    int valid = 0;
    for (int i = 0; i < 400; ++i) {
        switch (rng() % 6) {
        case 0: // noise
            for (int k = rng() % 30; k > 0; --k)
                stream.push_back(static_cast<std::uint8_t>(byte(rng)));
            break;
        case 1: { // a corrupted frame
            Frame f = *EncodeReading(texts[rng() % 8], static_cast<int>(rng() % 28));
            f[1 + rng() % 19] ^= static_cast<std::uint8_t>(1 + rng() % 255);
            Append(stream, f);
            break;
        }
        case 2: // the tail of a frame with a 0xA5 checksum
            Append(stream, FrameWithA5Checksum());
            stream.erase(stream.end() - 20, stream.end() - 1 - static_cast<long>(rng() % 10));
            break;
        default:
            Append(stream, *EncodeReading(texts[rng() % 8], static_cast<int>(rng() % 28)));
            ++valid;
        }
    }
    const auto reference = Accepted(stream, {1});
    ASSERT_GT(reference.size(), static_cast<std::size_t>(valid / 2)) << "most good frames get through";
    ASSERT_LT(reference.size(), static_cast<std::size_t>(valid + 1));
    for (const Frame& f : reference)
        EXPECT_TRUE(CheckFrame(f));

    EXPECT_EQ(Accepted(stream, {stream.size()}), reference);
    EXPECT_EQ(Accepted(stream, {7, 12}), reference);
    EXPECT_EQ(Accepted(stream, {19, 20, 21}), reference);
    for (int trial = 0; trial < 50; ++trial) {
        std::vector<std::size_t> chunks(37);
        for (auto& c : chunks)
            c = 1 + rng() % 64;
        EXPECT_EQ(Accepted(stream, chunks), reference) << "trial " << trial;
    }

    // Reading exactly what BytesWanted asks for, as the serial reader does.
    Framer framer;
    std::vector<Frame> asked;
    for (std::size_t pos = 0; pos < stream.size();) {
        const std::size_t n = std::min(framer.BytesWanted(), stream.size() - pos);
        framer.Feed(stream.data() + pos, n, [&](const Frame& f) { asked.push_back(f); });
        pos += n;
    }
    EXPECT_EQ(asked, reference);
}

} // namespace
} // namespace zelvox
