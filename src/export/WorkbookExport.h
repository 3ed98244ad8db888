// "SAVE EXCEL FILE": the readings table as a workbook with the sheet "KX-NOVA" (header row,
// per-column number formats, fitted columns), saved under the chosen name plus ".xls".
#pragma once

#include "export/ExportSupport.h"

#include <QString>

class QWidget;

namespace zelvox {

class MeterSession;

// Everything after the save dialog: the session's readings, its workers paused meanwhile. An
// empty chosenPath (dialog cancelled) does nothing and shows nothing.
void SaveExcelFile(MeterSession& session, const ProgressText& progress, QWidget* parent,
                   const QString& chosenPath);

// The menu command: the save dialog ("EXCEL(*.xls)", no overwrite question), then SaveExcelFile.
void SaveExcelFileCommand(MeterSession& session, const ProgressText& progress, QWidget* parent);

} // namespace zelvox
