// The lanes table: several lanes (of several meters, and lanes derived from them) as one CSV
// table on a shared time column. The first line names the columns, "DateTime" then each lane as
// "NAME (UNIT)"; each row is one instant (ISO 8601 with milliseconds and UTC offset) that at
// least one lane has a reading at, with that lane's value and the others' fields empty. A
// journal keeps one meter per file; this table is only ever written for people and programs
// that read tables.
#pragma once

#include "decode/WallClock.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvox {

// "DateTime,bench1 DCV V (V),Power (W)\n" (a name with a comma or quote is quoted).
std::string LaneTableHeader(const std::vector<std::string>& lanes);
// One row: the instant, then each lane's value text or an empty field.
void AppendLaneTableRow(std::string& out, const WallTime& at,
                        const std::vector<std::optional<std::string>>& values);

} // namespace zelvox
