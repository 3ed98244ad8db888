// Writes a workbook model with the embedded workbook writer (libxlsxwriter) in its default
// format, Office Open XML, streaming: every sheet is written row by row in the writer's
// constant-memory mode, so the writer holds one row at a time whatever the sheet's size.
#pragma once

#include <QString>
#include <vector>

namespace zelvox::sheet {

class Workbook;

// Writes `book` to exactly `path` (created or truncated); scratch files go to scratchDir.
// Returns true with the number of the last row written on each sheet (in tab order, 0 for an
// empty sheet) in *lastRows, or false with the writer's error text, the path and the system's
// reason in *message.
bool WriteWorkbookFile(const Workbook& book, const QString& path, const QString& scratchDir,
                       std::vector<int>* lastRows, QString* message);

// The system's reason for a failed write into `folder`, as its error text ("No space left on
// device"): `error` when the failing call left one, else what the folder and the process's
// file-size limit show (a writer that ignores failed writes leaves a file cut at the limit, so
// `bytesWritten` at or above it tells). Empty when nothing explains it.
QString WriteFailureReason(int error, const QString& folder, qint64 bytesWritten = -1);

} // namespace zelvox::sheet
