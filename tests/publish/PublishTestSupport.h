// Journals written for the publisher's tests, in the journal's own format.
#pragma once

#include "decode/Reading.h"
#include "record/RowCodec.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace zelvox::testing {

// The reading of row index: values, overloads and functions vary with it.
inline Reading RowReading(int index) {
    if (index % 17 == 0)
        return {index % 2 ? kOverload : -kOverload, 2, 12};
    return {index * 0.125 - 40, static_cast<std::uint8_t>(1 + index % 3),
            static_cast<std::uint8_t>(1 + index % 27)};
}

// Appends rows first..first+n-1 to the journal at path (with the header when the file is new).
// Returns the byte offsets just after the header and after each row.
inline std::vector<std::uint64_t> WriteJournal(const std::string& path, int n, int first = 1) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    std::vector<std::uint64_t> offsets;
    if (out.tellp() == 0)
        out << CsvHeader();
    offsets.push_back(static_cast<std::uint64_t>(out.tellp()));
    const WallTime start = WallTimeAt(1765190526000);
    for (int i = first; i < first + n; ++i) {
        const WallTime at = WallTimeAt(start.EpochMs() + i * 500);
        out << CsvLine(MakeDispatchedReading(1, i, at, RowReading(i)));
        offsets.push_back(static_cast<std::uint64_t>(out.tellp()));
    }
    return offsets;
}

// The messages of the runs published under the client id.
inline std::vector<std::string> MessagesOf(const std::vector<std::string>& messages, const std::string& id) {
    std::vector<std::string> own;
    for (const std::string& m : messages)
        if (m.find("\"run\":\"" + id + "/") != std::string::npos)
            own.push_back(m);
    return own;
}

} // namespace zelvox::testing
