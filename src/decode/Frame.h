// Meter frames: 20 bytes, start byte 0xA5, 18 nibble bytes, checksum of the nibbles.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zelvox {

inline constexpr std::size_t kFrameSize = 20;
inline constexpr std::uint8_t kStartByte = 0xA5;

using Frame = std::array<std::uint8_t, kFrameSize>;

// True when the frame starts with 0xA5, every nibble byte is 0..15 and byte 19 is the
// low 8 bits of the sum of bytes 1..18. No side effects.
bool CheckFrame(const Frame& frame);

// The receiver: hunts for a start byte one byte at a time, then fills the rest of the
// frame. After every complete frame (accepted or not) it hunts again from the next byte;
// the bytes of a rejected frame are not searched again for a start byte.
class Framer {
public:
    // How many bytes the next read should ask for: 1 while hunting, 20 - fill while filling.
    std::size_t BytesWanted() const;
    bool Synchronised() const { return synchronised_; }
    std::size_t FillCount() const { return fill_; }
    const Frame& Buffer() const { return buffer_; }

    // Clears buffer, fill count and synchronisation (what START does).
    void Reset();

    // Feeds any chunk of the byte stream. onFrame(const Frame&) is called for every accepted
    // frame, in order. Returns the number of accepted frames.
    template <class OnFrame> std::size_t Feed(const std::uint8_t* data, std::size_t n, OnFrame&& onFrame) {
        std::size_t accepted = 0;
        std::size_t pos = 0;
        while (pos < n) {
            if (!StepByte(data, n, pos))
                continue;
            if (CheckFrame(buffer_)) {
                ++accepted;
                onFrame(static_cast<const Frame&>(buffer_));
            }
        }
        return accepted;
    }

private:
    // Consumes bytes from data[pos..n) for one hunting byte or one filling chunk; returns
    // true when a whole frame has just been assembled in buffer_.
    bool StepByte(const std::uint8_t* data, std::size_t n, std::size_t& pos);

    Frame buffer_{};
    std::size_t fill_ = 0;
    bool synchronised_ = false;
};

} // namespace zelvox
