// The spreadsheet operations the workbook export drives: open a new workbook, add a named sheet,
// select ranges, set number formats, enter cells, fit columns, save and tear down. The workbook
// is built in memory and written with the embedded workbook writer when it is saved, so no
// spreadsheet application has to be installed.
#pragma once

#include "export/WorkbookModel.h"

#include <QString>
#include <exception>
#include <memory>
#include <optional>

class QWidget;

namespace zelvox {

// A failed spreadsheet operation; the caller stops, tears down and shows Description().
class AutomationFailure : public std::exception {
public:
    explicit AutomationFailure(QString description) : description_(std::move(description)) {}
    const QString& Description() const { return description_; }
    const char* what() const noexcept override { return "spreadsheet operation failed"; }

private:
    QString description_;
};

class SpreadsheetAutomation {
public:
    // Message boxes of the layer (error icon, caption "Zelvox") are owned by `owner`.
    explicit SpreadsheetAutomation(QWidget* owner = nullptr);
    ~SpreadsheetAutomation();
    SpreadsheetAutomation(const SpreadsheetAutomation&) = delete;
    SpreadsheetAutomation& operator=(const SpreadsheetAutomation&) = delete;

    // A new workbook with its default sheet "Sheet1". Shows "EXCEL init error!" and returns
    // false when the workbook writer cannot get its scratch space.
    bool Open();
    // Inserts a sheet before the active one, names it, makes it active; the current range
    // becomes all its cells. Throws AutomationFailure for a name a workbook cannot take.
    void AddSheet(const QString& name);
    // The current range becomes firstCell:lastCell ("A2", "A12"). Throws for a bad reference.
    void SelectRange(const QString& firstCell, const QString& lastCell);
    void SelectAllCells();
    void SetNumberFormat(const QString& format);
    // Enters text into the cell at (row, column) of the current range, both counted from 1 at
    // its top-left cell. Outside the range: "SetItem error", nothing written, false.
    bool SetItem(int row, int column, const QString& text);
    // Fits every column the current range spans to the widest text it shows.
    void AutoFitColumns();
    // Writes the workbook row by row into a scratch file, checks it, then puts it at `path`: an
    // existing file is replaced only once the new one is complete (rewritten in place where
    // the folder takes no new file). Throws AutomationFailure naming the path and the reason.
    void SaveWorkbook(const QString& path);
    // Drops the workbook and every handle; safe to call more than once.
    void Shutdown();

    static QString TextFormat();
    static QString DecimalFormat(int decimals);

private:
    QWidget* owner_;
    std::unique_ptr<sheet::Workbook> workbook_;
    sheet::Worksheet* worksheet_ = nullptr;
    std::optional<sheet::CellRange> currentRange_;
    // The format the last entered cell was interpreted under, and its code.
    int enteredFormat_ = sheet::kGeneral;
    QString enteredFormatCode_ = QStringLiteral("General");
};

} // namespace zelvox
