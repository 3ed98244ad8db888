#include "export/SpreadsheetAutomation.h"

#include "export/CellInput.h"
#include "export/ExportSupport.h"
#include "export/WorkbookCheck.h"
#include "export/WorkbookWriter.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryFile>
#include <algorithm>
#include <map>
#include <xlsxwriter.h>

namespace zelvox {

using sheet::CellRange;

namespace {

constexpr int kMaxSheetName = 31;

// Why a workbook would refuse `name` for a sheet, or an empty text when it takes it.
QString SheetNameProblem(const sheet::Workbook& book, const sheet::Worksheet* renamed, const QString& name) {
    if (name.isEmpty() || name.size() > kMaxSheetName)
        return QStringLiteral("A sheet name must be 1 to %1 characters long.").arg(kMaxSheetName);
    for (const QChar c : name)
        if (QStringLiteral(":\\/?*[]").contains(c))
            return QStringLiteral("A sheet name cannot contain any of : \\ / ? * [ ]");
    if (name.startsWith(u'\'') || name.endsWith(u'\''))
        return QStringLiteral("A sheet name cannot begin or end with an apostrophe.");
    const sheet::Worksheet* same = book.FindSheet(name);
    if (same && same != renamed)
        return QStringLiteral("That name is already taken. Try a different one.");
    return {};
}

// Writes the finished workbook over `path` through a save file: the old file stays whole until
// the new one is completely written.
void ReplaceFile(const QByteArray& bytes, const QString& path) {
    QSaveFile out(path);
    const auto failed = [&](const QString& reason) {
        return AutomationFailure(
            QStringLiteral("%1\n%2: %3")
                .arg(QString::fromUtf8(lxw_strerror(LXW_ERROR_CREATING_XLSX_FILE)), path, reason));
    };
    if (!out.open(QIODevice::WriteOnly))
        throw failed(out.errorString());
    if (!WriteFully(out, bytes.constData(), bytes.size())) {
        const QString reason = out.errorString();
        out.cancelWriting();
        throw failed(reason);
    }
    if (!out.commit())
        throw failed(out.errorString());
}

} // namespace

SpreadsheetAutomation::SpreadsheetAutomation(QWidget* owner) : owner_(owner) {}

SpreadsheetAutomation::~SpreadsheetAutomation() {
    Shutdown();
}

bool SpreadsheetAutomation::Open() {
    // The writer keeps each part of the workbook in a scratch file while it zips them up.
    // (The temporary folder is empty when TMPDIR names no folder.)
    const QString scratchDir = QDir::tempPath();
    QTemporaryFile probe(QDir(scratchDir).filePath(QStringLiteral("zelvox-probe-XXXXXX")));
    if (scratchDir.isEmpty() || !probe.open()) {
        ShowErrorBox(owner_, QStringLiteral("EXCEL init error!"));
        return false;
    }
    workbook_ = std::make_unique<sheet::Workbook>();
    return true;
}

void SpreadsheetAutomation::AddSheet(const QString& name) {
    if (!workbook_)
        return;
    sheet::Worksheet& added = workbook_->AddSheetBeforeActive();
    worksheet_ = &added;
    const QString problem = SheetNameProblem(*workbook_, &added, name);
    if (!problem.isEmpty())
        throw AutomationFailure(problem);
    added.Rename(name);
    currentRange_ = CellRange{};
}

void SpreadsheetAutomation::SelectRange(const QString& firstCell, const QString& lastCell) {
    if (!worksheet_)
        return;
    int r1 = 0, c1 = 0, r2 = 0, c2 = 0;
    if (!sheet::ParseCellReference(firstCell, &r1, &c1) || !sheet::ParseCellReference(lastCell, &r2, &c2))
        throw AutomationFailure(
            QStringLiteral("\"%1\", \"%2\" is not a range of cells.").arg(firstCell, lastCell));
    currentRange_ = CellRange{std::min(r1, r2), std::min(c1, c2), std::max(r1, r2), std::max(c1, c2)};
}

void SpreadsheetAutomation::SelectAllCells() {
    if (!worksheet_)
        return;
    currentRange_ = CellRange{};
}

void SpreadsheetAutomation::SetNumberFormat(const QString& format) {
    if (!worksheet_ || !currentRange_)
        return;
    // Formatting cell by cell is fine for the column slices the export formats; a huge
    // rectangle that is not the whole sheet is refused rather than exhausting memory.
    constexpr long long kMaxFormattedCells = 16LL * 1024 * 1024;
    if (!currentRange_->IsWholeSheet() &&
        static_cast<long long>(currentRange_->Rows()) * currentRange_->Columns() > kMaxFormattedCells)
        throw AutomationFailure(QStringLiteral("The range is too large to format cell by cell."));
    worksheet_->SetFormat(*currentRange_, workbook_->FormatIndex(format));
}

bool SpreadsheetAutomation::SetItem(int row, int column, const QString& text) {
    if (!worksheet_ || !currentRange_)
        return false;
    const int rowLimit = currentRange_->Rows();
    const int columnLimit = currentRange_->Columns();
    // Row or column 0 would address a cell outside the range (above or left of it) too.
    if (row > rowLimit || column > columnLimit || row < 1 || column < 1) {
        ShowErrorBox(owner_, QStringLiteral("SetItem error"));
        return false;
    }
    constexpr qsizetype kMaxCellText = 32767;
    if (text.size() > kMaxCellText)
        throw AutomationFailure(QStringLiteral("A cell holds at most %1 characters.").arg(kMaxCellText));
    const int sheetRow = currentRange_->firstRow + row - 1;
    const int sheetColumn = currentRange_->firstColumn + column - 1;
    const QString format = workbook_->FormatCode(worksheet_->FormatAt(sheetRow, sheetColumn));
    worksheet_->Enter(sheetRow, sheetColumn, text, format);
    return true;
}

void SpreadsheetAutomation::AutoFitColumns() {
    if (!worksheet_ || !currentRange_)
        return;
    // Fitting acts on whole columns: every row of each column the range spans counts.
    std::map<int, int> widest; // column -> pixels of its widest text
    for (const auto& [key, cell] : worksheet_->Cells()) {
        const int column = sheet::Worksheet::ColumnOf(key);
        if (column < currentRange_->firstColumn || column > currentRange_->lastColumn)
            continue;
        QString shown;
        if (cell.kind == sheet::Cell::Kind::Text)
            shown = cell.text;
        else if (cell.kind == sheet::Cell::Kind::Number)
            shown = sheet::DisplayNumber(cell.number, workbook_->FormatCode(cell.format));
        else
            continue;
        int& width = widest[column];
        width = std::max(width, sheet::TextPixelWidth(shown));
    }
    // Columns with nothing to show keep their width.
    for (const auto& [column, pixels] : widest)
        worksheet_->SetColumnWidth(column, sheet::FittedColumnWidth(pixels));
}

void SpreadsheetAutomation::SaveWorkbook(const QString& path) {
    if (!workbook_)
        return;
    const QString scratchDir = QDir::tempPath();
    if (scratchDir.isEmpty())
        throw AutomationFailure(QString::fromUtf8(lxw_strerror(LXW_ERROR_CREATING_TMPFILE)));
    QTemporaryFile scratch(QDir(scratchDir).filePath(QStringLiteral("zelvox-workbook-XXXXXX.xlsx")));
    if (!scratch.open())
        throw AutomationFailure(QStringLiteral("%1\n%2: %3")
                                    .arg(QString::fromUtf8(lxw_strerror(LXW_ERROR_CREATING_TMPFILE)),
                                         scratchDir, scratch.errorString()));
    scratch.close();
    QString message;
    if (!sheet::WriteWorkbookFile(*workbook_, scratch.fileName(), scratchDir, &message))
        throw AutomationFailure(message);
    // The writer does not notice failed writes to its own scratch files: check what it made
    // before it replaces anything.
    QFile written(scratch.fileName());
    const QByteArray bytes = written.open(QIODevice::ReadOnly) ? written.readAll() : QByteArray();
    QString problem;
    if (!sheet::CheckWorkbookPackage(bytes, &problem))
        throw AutomationFailure(QStringLiteral("The workbook could not be written completely: %1.\n"
                                               "Is there room left in %2?")
                                    .arg(problem, scratchDir));
    ReplaceFile(bytes, path);
    savedFileName_ = path;
}

void SpreadsheetAutomation::Shutdown() {
    currentRange_.reset();
    worksheet_ = nullptr;
    // Closing the workbook saves nothing more: everything wanted was written by SaveWorkbook.
    workbook_.reset();
}

QString SpreadsheetAutomation::TextFormat() {
    return QStringLiteral("@");
}

QString SpreadsheetAutomation::DecimalFormat(int decimals) {
    if (decimals <= 0)
        return QStringLiteral("0_ ");
    return QStringLiteral("0.") + QString(decimals, u'0') + QStringLiteral("_ ");
}

} // namespace zelvox
