// Journal files as the app and pane tests make and read them: a journal of made-up readings
// written through the row codec, the one journal of a folder, and the Indices it holds.
#pragma once

#include "journal/JournalLoader.h"
#include "record/ReadingRecord.h"

#include <QDir>
#include <QFile>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zelvox::testing {

// A journal at path: its header, `rows` readings made by reading(i) with Index firstIndex + i,
// stepMs apart from startMs (at UTC+01:00), then `tail` as it is.
inline bool WriteJournal(const QString& path, int rows, std::int64_t startMs, int stepMs,
                         const std::function<Reading(int)>& reading, std::int64_t firstIndex = 1,
                         const std::string& tail = {}) {
    std::string text = CsvHeader();
    text.reserve(std::size_t(rows) * 80 + tail.size() + text.size()); // rows are under 80 bytes
    for (int i = 0; i < rows; ++i)
        text += CsvLine(
            MakeDispatchedReading(1, firstIndex + i, WallTimeAt(startMs + i * stepMs, 3600), reading(i)));
    text += tail;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size());
}

// The one journal (*.csv) in folder; an empty path when there is none or more than one.
inline QString OnlyJournal(const QString& folder) {
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.csv")}, QDir::Files);
    return files.size() == 1 ? QDir(folder).filePath(files[0]) : QString();
}

// The Indices of a journal's rows, in file order.
inline std::vector<std::int64_t> JournalIndices(const QString& path) {
    std::vector<std::int64_t> indices;
    for (const JournalRow& row : LoadJournal(path).rows)
        indices.push_back(row.index);
    return indices;
}

// first, first + 1, ... count Indices in all.
inline std::vector<std::int64_t> IndexRun(std::int64_t first, std::int64_t count) {
    std::vector<std::int64_t> run;
    for (std::int64_t i = 0; i < count; ++i)
        run.push_back(first + i);
    return run;
}

} // namespace zelvox::testing
