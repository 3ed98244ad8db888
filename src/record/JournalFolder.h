// The journal folder's rules, in one place for every program and thread that uses the folder:
// the journal writer, the publisher's outbox, the loader and the tools.
//
// Names: one file per run, named by the moment of its first row, "2026-12-08T10-42-06.csv", with
// "_2", "_3"... for runs started within the same second. Only such names are journals; they
// order by the moment, then by the suffix as a number.
//
// Beside each journal, hidden files of the same name:
//   .NAME.csv.open         while its run goes on (removed when the run ends cleanly)
//   .NAME.csv.interrupted  a run that did not end cleanly, named to the user at start-up and
//                          kept until the user loads it
//   .NAME.csv.mqtt         the publisher's sidecar: which broker the rows go to and how far the
//                          broker has acknowledged them
//
//     zelvox outbox 1
//     mqtt://broker:1883/lab/bench3
//     <acknowledged rows> <byte offset just after the last acknowledged row>
//
// and, when alarm rules are watched, NAME.events.csv: the run's alarm events (record/RowCodec.h,
// EventRow), appended one row a write like the journal's rows, removed with the journal.
//
// The sidecar's counters have a fixed width, so each update rewrites the same bytes in place.
//
// A journal made while publishing also carries its broker on the file itself, in the extended
// attribute user.zelvox.target (the CSV text stays as it is), so that it outlives the sidecar:
// a journal whose sidecar is then lost, damaged or counts more than the journal holds is sent
// to that broker again from the start (consumers drop repeats by run and index). Where the file
// system keeps no user attributes the sidecar alone counts, as for journals made before.
//
// Pruning is by age and size, never by a count (fifty short sessions never crowd out a long run):
// a journal goes when it was last written longer ago than the retention, or when it and the
// newer ones are over the folder's size; each one removed is named with its span, rows and
// size. Never removed, and not counted: journals a live program holds open (each writer flocks its journal),
// runs still open or interrupted, journals with rows still to send to the broker this run publishes to, and
// those the caller keeps. Rows a broker that is not published to any more never received count like any
// other, and their removal is said.
#pragma once

#include "decode/WallClock.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvox {

// "STAMP.csv" for the first run started in that second, "STAMP_n.csv" for the n-th.
std::string JournalFileName(const WallTime& start, int n);
// True for a name JournalFileName makes.
bool IsJournalName(std::string_view name);
// The journals in dir, newest first, as paths.
std::vector<std::string> JournalsNewestFirst(const std::string& dir);

std::string OpenMarkerPath(const std::string& journalPath);
std::string InterruptedMarkerPath(const std::string& journalPath);
std::string OutboxSidecarPath(const std::string& journalPath);
// NAME.events.csv beside the journal NAME.csv (not a journal name, and not hidden).
std::string EventsFilePath(const std::string& journalPath);
// The run id of a journal: its file name without the folder and ".csv".
std::string RunIdOf(const std::string& journalPath);

// True when another live program holds the journal open: its writer (an exclusive flock) or
// an outbox sending it (HoldForSending). An outbox of this program counts too.
bool HeldByAnotherProgram(const std::string& journalPath);
// Marks the journal open at fd as being sent, for as long as fd stays open (an open file
// description lock, read, on the whole file: it never conflicts with the writer's flock).
void HoldForSending(int journalFd);

struct OutboxMark {
    std::string target;            // MqttTarget::Name()
    std::uint64_t ackedRows = 0;   // lines after the header the broker has acknowledged
    std::uint64_t ackedOffset = 0; // 0 before the first row: the header is still to be skipped
};

// What a journal's sidecar says for a broker.
enum class SidecarState {
    Fits,        // it names the broker and a place the journal holds
    Missing,     // there is none
    Unreadable,  // it is not one of ours, or cannot be read
    OtherBroker, // it names another broker
    TooLarge,    // it names the broker, but counts more than the journal holds
};

// The sidecar's whole text for mark.
std::string FormatOutboxMark(const OutboxMark& mark);
// Reads a sidecar. False when it is missing or not one of ours.
bool ReadOutboxMark(const std::string& sidecarPath, OutboxMark& mark);
// Reads the sidecar of the journal at journalPath and checks it against the journal and
// target (any broker when target is empty). mark is read for Fits, OtherBroker and TooLarge.
SidecarState ReadSidecar(const std::string& journalPath, const std::string& target, OutboxMark& mark);

// Records target as the broker of the journal open at fd (made while publishing to it, or taken
// up by the publisher). False where the file system keeps no user attributes: nothing is
// recorded then.
bool RecordJournalTarget(int journalFd, const std::string& target);
// The broker recorded on the journal at journalPath, or empty.
std::string RecordedJournalTarget(const std::string& journalPath);

// The complete lines of the journal after its acknowledged part; all of them (after the header)
// when its sidecar names target but counts more than the journal holds, or when it has no sidecar
// it can trust and either adoptUnmarked is set or the journal was recorded for target; else 0
// (a sidecar for another broker when target is not empty). Counting stops at `enough`.
std::uint64_t UnsentRows(const std::string& journalPath, const std::string& target, bool adoptUnmarked,
                         std::uint64_t enough = UINT64_MAX);
// True when a sidecar names any broker and complete rows follow what it acknowledged, or it
// counts more than the journal holds.
bool JournalHasUnsentTail(const std::string& journalPath);

// The journals in dir that have rows still to send to target (UnsentRows) and that no other
// program holds, oldest first.
std::vector<std::string> JournalsToSend(const std::string& dir, const std::string& target,
                                        bool adoptUnmarked);

struct InterruptedRun {
    std::string path;
    std::uint64_t bytes = 0;
};

// The journals in dir whose run did not end cleanly (and that no live program holds), newest
// first. Runs found interrupted now are marked as named, when the folder lets us; every one
// stays named until ForgetInterrupted.
std::vector<InterruptedRun> TakeInterruptedJournals(const std::string& dir);
// The user has loaded the journal at path: an interrupted run there needs keeping no longer.
void ForgetInterrupted(const std::string& journalPath);

struct PruneRules {
    int keepDays = 365;                             // a journal last written longer ago goes
    std::uint64_t keepBytes = 500ull * 1024 * 1024; // the folder's size
    // The journal writer starts a new file once its file passes this many bytes (0: never), and
    // prunes by these rules while it runs, so that a folder that is an outbox stays bounded.
    std::uint64_t splitBytes = 0;
    std::chrono::milliseconds pruneEvery{60000}; // with splitBytes: how often
    std::string publishingTo;   // the broker this run publishes to (MqttTarget::Name()), or empty
    bool adoptUnmarked = false; // with publishingTo: journals without a sidecar are for it too
    std::function<bool(const std::string& path)> keep; // journals the caller needs (one loading)
};

struct RemovedJournal {
    std::string name;
    std::int64_t spanMs = 0; // from its first row to its last
    std::uint64_t rows = 0;
    std::uint64_t bytes = 0;
};

struct PruneResult {
    int removed = 0;
    std::vector<RemovedJournal> journals; // each one removed, oldest last
    std::uint64_t removedBytes = 0;
    int removedUnsent = 0;                  // removed journals that held rows a broker never acknowledged
    std::uint64_t unsentRows = 0;           // those rows
    std::vector<std::string> unsentTargets; // the brokers they were for
};

// Removes the journals beyond the rules (with their sidecars).
PruneResult PruneJournals(const std::string& dir, const PruneRules& rules);
// One line per journal removed, "Removed 2026-11-28T09-00-00.csv: 11 days, 1,000,000 readings,
// 66 MB" (the first kMaxNamed, then how many more), then "Removed 3 journals with 1,204
// readings never sent to mqtt://host:1883/lab" when some held such rows; empty when nothing
// was removed.
std::string DescribePrune(const PruneResult& result);
constexpr std::size_t kMaxNamed = 10;
// "11 days", "3 hours", "5 minutes", "12 seconds".
std::string FormatSpan(std::int64_t ms);
// The value of --keep-days N or --keep-mb N (option names which) into rules; an empty value
// leaves the rule as it is. False with *error for a bad value.
bool SetKeepOption(std::string_view option, const std::string& value, PruneRules& rules, std::string* error);

// 1,204: a count with thousands separated.
std::string FormatCount(std::uint64_t n);
// "600 MB", "12 KB", "512 bytes".
std::string FormatBytes(std::uint64_t n);

} // namespace zelvox
