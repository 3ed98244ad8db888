// Writes a workbook model with the embedded workbook writer (libxlsxwriter) in its default
// format, Office Open XML.
#pragma once

#include <QString>

namespace zelvox::sheet {

class Workbook;

// Writes `book` to exactly `path` (created or truncated); scratch files go to scratchDir.
// Returns true, or false with the writer's error text in *message.
bool WriteWorkbookFile(const Workbook& book, const QString& path, const QString& scratchDir,
                       QString* message);

} // namespace zelvox::sheet
