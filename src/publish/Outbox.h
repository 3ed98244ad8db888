// The journal is the publisher's outbox: rows are read back from the journal's CSV files and sent
// from there, and a small sidecar beside each journal says which broker and prefix it is being
// sent to and how much of it the broker has acknowledged:
//
//   .2026-12-08T10-42-06.csv.mqtt
//     zelvox outbox 1
//     mqtt://broker:1883/lab/bench3
//     <acknowledged rows> <byte offset just after the last acknowledged row>
//
// The counters have a fixed width, so each update rewrites the same bytes in place; the
// publisher syncs them about once a second. After a crash the sidecar may lag the broker by that
// second: those rows go again, and a consumer drops them by (run, index).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelvox {

// /dir/.NAME.csv.mqtt for /dir/NAME.csv.
std::string OutboxSidecarPath(const std::string& journalPath);

struct OutboxMark {
    std::string target;            // MqttTarget::Name()
    std::uint64_t ackedRows = 0;   // rows after the header the broker has acknowledged
    std::uint64_t ackedOffset = 0; // 0 before the first row: the header is still to be skipped
};

// The sidecar's whole text for mark.
std::string FormatOutboxMark(const OutboxMark& mark);
// Reads a sidecar. False when it is missing or not one of ours.
bool ReadOutboxMark(const std::string& sidecarPath, OutboxMark& mark);

// True when the journal has a sidecar and complete rows the broker has not acknowledged: such a
// journal must not be pruned.
bool JournalHasUnsentTail(const std::string& journalPath);

// The run id of a journal: its file name without the folder and ".csv".
std::string RunIdOf(const std::string& journalPath);

// The journals in dir that have rows still to send to target, oldest first: those whose sidecar
// names target and has an unsent tail, and, with adoptUnmarked, journals with no sidecar at all.
std::vector<std::string> JournalsToSend(const std::string& dir, const std::string& target,
                                        bool adoptUnmarked);

} // namespace zelvox
