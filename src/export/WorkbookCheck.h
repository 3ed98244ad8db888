// Reads a freshly written workbook file back before it replaces anything: every part of the
// zip package must inflate to its recorded size and CRC, and every XML part must be complete,
// well-formed XML. The workbook writer keeps its parts in scratch files and does not notice
// when writing them fails (a full disk, a file size limit): it then zips truncated XML and
// reports success.
#pragma once

#include <QByteArray>
#include <QString>

namespace zelvox::sheet {

// True when `package` is a complete workbook package; otherwise false with what is wrong.
bool CheckWorkbookPackage(const QByteArray& package, QString* problem);

} // namespace zelvox::sheet
