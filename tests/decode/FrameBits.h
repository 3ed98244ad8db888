// Helpers for building raw meter frames bit by bit in the decode tests.
#pragma once

#include "decode/Frame.h"

#include <initializer_list>
#include <utility>

namespace zelvox::test {

// Recomputes byte 19 from bytes 1..18.
inline Frame WithChecksum(Frame f) {
    unsigned sum = 0;
    for (std::size_t i = 1; i <= 18; ++i)
        sum += f[i];
    f[19] = static_cast<std::uint8_t>(sum % 256);
    return f;
}

// A frame with start byte, the given (byte, bit value) pairs set, and a matching checksum.
inline Frame FrameWithBits(std::initializer_list<std::pair<int, int>> bits) {
    Frame f{};
    f[0] = kStartByte;
    for (auto [byte, value] : bits)
        f[static_cast<std::size_t>(byte)] |= static_cast<std::uint8_t>(value);
    return WithChecksum(f);
}

} // namespace zelvox::test
