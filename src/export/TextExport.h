// "SAVE TEXT FILE": the readings table as UTF-16LE text, one line per row, every field followed
// by a TAB, lines ending in CR LF.
#pragma once

#include "export/ExportSupport.h"

#include <QByteArray>
#include <QString>

class QWidget;

namespace zelvox {

class MeterSession;
class ReadingsModel;

// The file's bytes for the table as it stands: no byte-order mark, no header, empty for an
// empty table.
QByteArray TableTextBytes(const ReadingsModel& readings);

// Writes the table to exactly `path` (nothing appended). The file is written beside the target
// and renamed over it only when complete; where the folder takes no new file but the target may
// be written, the target is rewritten in place. Every write is checked: on failure returns false
// with the system's reason.
bool WriteTableText(const ReadingsModel& readings, const QString& path, QString* reason);

// Everything after the save dialog: appends ".txt", pauses the session's workers, writes the
// session's readings, reports progress; a file that cannot be written gets the failure text as
// progress and an error box naming path and reason. An empty chosenPath (dialog cancelled) does
// nothing.
void SaveTextFile(MeterSession& session, const ProgressText& progress, QWidget* parent,
                  const QString& chosenPath);

// The menu command: the save dialog ("TXT(*.txt)", no overwrite question), then SaveTextFile.
void SaveTextFileCommand(MeterSession& session, const ProgressText& progress, QWidget* parent);

} // namespace zelvox
