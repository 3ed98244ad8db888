// Reads a journal back into table rows, for `zelvox --load FILE`.
#pragma once

#include "decode/Reading.h"
#include "decode/WallClock.h"

#include <QString>
#include <vector>

namespace zelvox {

// One row of a journal: the reading and the moment it was dispatched, from which the table
// makes the same Value, Type and Time texts again.
struct JournalRow {
    Reading reading;
    WallTime at;
};

struct LoadedJournal {
    bool ok = false;
    QString error; // why the file could not be read (ok false)
    std::vector<JournalRow> rows;
    bool tornLastLine = false; // the last line was cut short (a power cut) and left out
    int skipped = 0;           // damaged lines left out
};

// Reads the journal at path. A row is taken only when the table would show exactly the texts
// the file holds; other lines are skipped and counted.
LoadedJournal LoadJournal(const QString& path);

} // namespace zelvox
