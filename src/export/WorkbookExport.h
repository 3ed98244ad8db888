// "SAVE EXCEL FILE": the readings table as a workbook with the sheet "KX-NOVA" (header row,
// per-column number formats, fitted columns), saved under the chosen name plus ".xls".
#pragma once

#include <QString>

class QWidget;

namespace zelvox {

class PaneLinks;

// Everything after the save dialog. An empty chosenPath (dialog cancelled) does nothing and
// shows nothing.
void SaveExcelFile(PaneLinks& links, QWidget* parent, const QString& chosenPath);

// The menu command: the save dialog ("EXCEL(*.xls)", no overwrite question), then SaveExcelFile.
void SaveExcelFileCommand(PaneLinks& links, QWidget* parent);

} // namespace zelvox
