// libFuzzer target for the decoding core: the receiver fed in chunks chosen by the input,
// the decoder, the segment change list and the value texts. Built by tools/fuzz/run-fuzz.
#include "decode/Decoder.h"
#include "decode/Format.h"
#include "decode/Frame.h"
#include "decode/Labels.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

using namespace zelvox;

namespace {

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

// Everything that follows from one frame, with the invariants the rest of the program relies on.
void Exercise(const Frame& frame, Frame& mirrored, std::vector<SegmentChange>& changes) {
    const Reading r = DecodeFrame(frame);
    Check(r.pointPosition <= 3);
    Check(r.functionCode < kFunctionCount);
    Check(IsOverload(r.value) || std::fabs(r.value) <= 9999.0);
    Check(!functionLabels[r.functionCode].empty());
    Check(!FormatTableValue(r.value, r.pointPosition).empty());

    changes.clear();
    const Frame before = mirrored;
    UpdateSegmentMirror(frame, mirrored, changes);
    Check(mirrored == frame);
    Check(changes.size() <= 72);
    int last = -1;
    for (const SegmentChange& c : changes) {
        Check(c.picture > last && c.picture < 72);
        last = c.picture;
        const auto k = static_cast<std::size_t>(c.picture / 4 + 1);
        const int bit = 8 >> (c.picture % 4);
        Check(((before[k] ^ frame[k]) & bit) != 0);
        Check(c.show == ((frame[k] & bit) != 0));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    // The first two bytes choose the chunking; the rest is the byte stream.
    std::uint32_t seed = data[0] | (data[1] << 8);
    data += 2;
    size -= 2;

    std::vector<Frame> reference;
    Framer one;
    for (std::size_t i = 0; i < size; ++i)
        one.Feed(data + i, 1, [&](const Frame& f) { reference.push_back(f); });

    Framer chunked;
    std::vector<Frame> got;
    Frame mirrored{};
    std::vector<SegmentChange> changes;
    for (std::size_t pos = 0; pos < size;) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t n = std::min<std::size_t>(1 + (seed >> 16) % 41, size - pos);
        chunked.Feed(data + pos, n, [&](const Frame& f) {
            Check(CheckFrame(f));
            got.push_back(f);
            Exercise(f, mirrored, changes);
        });
        pos += n;
    }
    Check(got == reference);

    // The decoder and the texts must also cope with frames that never passed the check and with
    // any double at all.
    for (std::size_t pos = 0; pos + kFrameSize <= size; pos += kFrameSize) {
        Frame raw;
        std::memcpy(raw.data(), data + pos, kFrameSize);
        const Reading r = DecodeFrame(raw);
        Check(r.pointPosition <= 3 && r.functionCode < kFunctionCount);
        UpdateSegmentMirror(raw, mirrored, changes);
    }
    for (std::size_t pos = 0; pos + sizeof(double) <= size; pos += sizeof(double)) {
        double v;
        std::memcpy(&v, data + pos, sizeof v);
        for (std::uint8_t pp = 0; pp <= 4; ++pp)
            Check(!FormatTableValue(v, pp).empty());
    }
    return 0;
}
