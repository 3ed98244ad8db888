// The events file of a run (record/JournalFolder.h: EventsFilePath), written the way the journal
// writes its rows: opened with O_APPEND, one write per row, so that a crash leaves whole rows
// and at most one torn last line that every reader passes over (the next row ends it first).
// The header goes out with the first row of a new file in the same write.
#pragma once

#include "record/RowCodec.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace zelvox {

class EventsFile {
public:
    EventsFile() = default;
    ~EventsFile();
    EventsFile(const EventsFile&) = delete;
    EventsFile& operator=(const EventsFile&) = delete;

    // Appends row to the events file beside the journal at journalPath (the file it has open
    // is kept for the next row of the same journal). False with *error (errno) when the row
    // could not be written whole.
    bool Append(const std::string& journalPath, const EventRow& row, int* error);
    // Makes what was appended durable (fdatasync); for the owner's sync cadence, on any thread.
    bool Sync(int* error);

private:
    std::mutex mutex_;
    std::string path_; // the events file open, or empty
    int fd_ = -1;
};

// Appends one row beside the journal at journalPath, opening and closing the file (a note from
// a shell or a window beside the program that keeps the journal: O_APPEND and one write each, so
// rows from both never interleave), and makes it durable.
bool AppendEventRow(const std::string& journalPath, const EventRow& row, int* error);

// The rows of the events file beside the journal at journalPath, in file order, each line
// through ReadEventLine; *damaged counts the lines that are not rows (a torn last line, damage).
// No file: no rows. With end, only the complete lines from byte offset from on are read (a file
// being written is read on from there), and *end is the offset after the last of them.
std::vector<EventRow> ReadEventsFile(const std::string& journalPath, std::uint64_t* damaged,
                                     std::uint64_t from = 0, std::uint64_t* end = nullptr);

} // namespace zelvox
