// The meter display as the control panel shows it: the 18 nibble bytes that its 72 segment
// pictures mirror, read back from which pictures are lit.
#pragma once

#include "decode/Frame.h"
#include "panes/ControlPanel.h"
#include "panes/SegmentLayout.h"
#include "panes/SegmentPicture.h"

#include <array>
#include <cstdint>

namespace zelvox::testing {

using Nibbles = std::array<std::uint8_t, kSegmentCount / 4>;

// The display bytes of a frame, as far as segment pictures can show them.
inline Nibbles DisplayOf(const Frame& frame) {
    Nibbles n{};
    for (int s = 0; s < kSegmentCount; ++s)
        if (frame[SegmentByte(s)] & SegmentMask(s))
            n[SegmentByte(s) - 1] |= SegmentMask(s);
    return n;
}

inline Nibbles ShownDisplay(const ControlPanel& panel) {
    Nibbles n{};
    for (int s = 0; s < kSegmentCount; ++s)
        if (panel.Segment(s) && panel.Segment(s)->IsLit())
            n[SegmentByte(s) - 1] |= SegmentMask(s);
    return n;
}

} // namespace zelvox::testing
