// Reads a freshly written workbook file back before it replaces anything, a piece at a time so
// that a sheet of a million rows needs no more memory than a small one: every part of the zip
// package must inflate to its recorded size and CRC; the small XML parts must be complete,
// well-formed XML; every worksheet must end as a worksheet does, with the last row the writer
// wrote. The workbook writer keeps its parts in scratch files and does not notice when writing
// them fails (a full disk, a file size limit): it then zips truncated XML, with a CRC that
// matches, and reports success.
#pragma once

#include <QString>
#include <QtGlobal>
#include <vector>

class QIODevice;

namespace zelvox::sheet {

// True when `package` (open for reading, seekable) is a complete workbook package whose sheets
// end at the given last rows (in tab order; 0 for an empty sheet). Otherwise false with what is
// wrong, and in *partBytes (when given) the unpacked size of the damaged part, or -1.
bool CheckWorkbookPackage(QIODevice& package, const std::vector<int>& sheetLastRows, QString* problem,
                          qint64* partBytes = nullptr);

} // namespace zelvox::sheet
