#include "record/LaneTable.h"

#include "record/ReadingRecord.h"

namespace zelvox {

namespace {

void AppendField(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\n\r") == std::string_view::npos) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace

std::string LaneTableHeader(const std::vector<std::string>& lanes) {
    std::string out = "DateTime";
    for (const std::string& lane : lanes) {
        out += ',';
        AppendField(out, lane);
    }
    out += '\n';
    return out;
}

void AppendLaneTableRow(std::string& out, const WallTime& at,
                        const std::vector<std::optional<std::string>>& values) {
    out += FormatIsoDateTime(at);
    for (const std::optional<std::string>& v : values) {
        out += ',';
        if (v)
            AppendField(out, *v);
    }
    out += '\n';
}

} // namespace zelvox
