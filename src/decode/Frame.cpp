#include "decode/Frame.h"

#include <algorithm>

namespace zelvox {

bool CheckFrame(const Frame& frame) {
    if (frame[0] != kStartByte)
        return false;
    unsigned sum = 0;
    for (std::size_t i = 1; i <= 18; ++i) {
        if (frame[i] > 0x0F)
            return false;
        sum += frame[i];
    }
    return frame[19] == static_cast<std::uint8_t>(sum & 0xFF);
}

std::size_t Framer::BytesWanted() const {
    return synchronised_ ? kFrameSize - fill_ : 1;
}

void Framer::Reset() {
    buffer_.fill(0);
    fill_ = 0;
    synchronised_ = false;
}

bool Framer::StepByte(const std::uint8_t* data, std::size_t n, std::size_t& pos) {
    if (pos >= n)
        return false;
    if (!synchronised_) {
        // Hunting: one byte at a time into position 0; only a start byte begins a frame.
        buffer_[0] = data[pos++];
        if (buffer_[0] == kStartByte) {
            fill_ = 1;
            synchronised_ = true;
        }
        return false;
    }
    // Filling: take as much of the rest of the frame as this chunk holds.
    const std::size_t take = std::min(kFrameSize - fill_, n - pos);
    std::copy_n(data + pos, take, buffer_.begin() + static_cast<std::ptrdiff_t>(fill_));
    pos += take;
    fill_ += take;
    if (fill_ < kFrameSize)
        return false;
    // A whole frame: back to hunting from the next byte, whatever the check says.
    fill_ = 0;
    synchronised_ = false;
    return true;
}

} // namespace zelvox
