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
#include <vector>
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

// Copies the finished workbook over `path` through a save file: the old file stays whole until
// the new one is completely written. Where the folder takes no new file but the old one may be
// written, it is rewritten in place instead.
void CopyIntoPlace(QFile& workbook, const QString& path) {
    QSaveFile out(path);
    out.setDirectWriteFallback(true);
    const auto failed = [&](const QString& reason) {
        return AutomationFailure(
            QStringLiteral("The workbook could not be saved as %1:\n%2").arg(path, reason));
    };
    if (!out.open(QIODevice::WriteOnly))
        throw failed(out.errorString());
    workbook.seek(0);
    constexpr qint64 kChunk = 1024 * 1024;
    while (!workbook.atEnd()) {
        const QByteArray chunk = workbook.read(kChunk);
        if (chunk.isEmpty() || !WriteFully(out, chunk.constData(), chunk.size())) {
            const QString reason = chunk.isEmpty() ? workbook.errorString() : out.errorString();
            out.cancelWriting();
            throw failed(reason);
        }
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
    enteredFormat_ = sheet::kGeneral;
    enteredFormatCode_ = workbook_->FormatCode(sheet::kGeneral);
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
    // Every cell of a formatted range is written out, blank or not: a huge rectangle that is
    // not the whole sheet is refused rather than filling the file with millions of blanks.
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
    if (!worksheet_->CanTakeText(text.size()))
        throw AutomationFailure(QStringLiteral("The sheet holds too much text."));
    const int sheetRow = currentRange_->firstRow + row - 1;
    const int sheetColumn = currentRange_->firstColumn + column - 1;
    const int format = worksheet_->FormatAt(sheetRow, sheetColumn);
    if (format != enteredFormat_) { // the same format for a whole column: look its code up once
        enteredFormat_ = format;
        enteredFormatCode_ = workbook_->FormatCode(format);
    }
    worksheet_->Enter(sheetRow, sheetColumn, text, enteredFormatCode_);
    return true;
}

void SpreadsheetAutomation::AutoFitColumns() {
    if (!worksheet_ || !currentRange_)
        return;
    // Fitting acts on whole columns: every row of each column the range spans counts.
    std::map<int, sheet::NumberFormat> shownUnder; // format index -> how numbers show under it
    std::map<int, int> widest;                     // column -> pixels of its widest text
    const auto& columns = worksheet_->Columns();
    for (auto c = columns.lower_bound(currentRange_->firstColumn);
         c != columns.end() && c->first <= currentRange_->lastColumn; ++c) {
        const int column = c->first;
        int pixels = -1;
        for (const auto& [first, run] : c->second) {
            for (std::size_t i = 0; i < run.kinds.size(); ++i) {
                if (run.kinds[i] == sheet::Cell::Kind::Text) {
                    pixels = std::max(pixels, sheet::TextPixelWidth(worksheet_->TextOf(run.values[i].text)));
                } else if (run.kinds[i] == sheet::Cell::Kind::Number) {
                    const int format = worksheet_->FormatAt(first + int(i), column);
                    auto shown = shownUnder.find(format);
                    if (shown == shownUnder.end())
                        shown = shownUnder.emplace(format, sheet::NumberFormat(workbook_->FormatCode(format)))
                                    .first;
                    pixels =
                        std::max(pixels, sheet::TextPixelWidth(shown->second.Show(run.values[i].number)));
                }
            }
        }
        if (pixels >= 0)
            widest[column] = pixels;
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
        throw AutomationFailure(QStringLiteral("There is no folder for the workbook's scratch file."));
    QTemporaryFile scratch(QDir(scratchDir).filePath(QStringLiteral("zelvox-workbook-XXXXXX.xlsx")));
    if (!scratch.open())
        throw AutomationFailure(QStringLiteral("The workbook's scratch file could not be made in %1:\n%2")
                                    .arg(scratchDir, scratch.errorString()));
    scratch.close();
    QString message;
    std::vector<int> lastRows;
    if (!sheet::WriteWorkbookFile(*workbook_, scratch.fileName(), scratchDir, &lastRows, &message))
        throw AutomationFailure(message);
    // The writer does not notice failed writes to its own scratch files: check what it made
    // before it replaces anything.
    QFile written(scratch.fileName());
    QString problem;
    qint64 partBytes = -1;
    if (!written.open(QIODevice::ReadOnly))
        problem = written.errorString();
    else if (sheet::CheckWorkbookPackage(written, lastRows, &problem, &partBytes))
        problem.clear();
    if (!problem.isEmpty()) {
        const QString reason = sheet::WriteFailureReason(0, scratchDir, partBytes);
        throw AutomationFailure(
            QStringLiteral("The workbook could not be written completely: %1.\n%2: %3")
                .arg(problem, scratchDir,
                     reason.isEmpty() ? QStringLiteral("is there room left in this folder?") : reason));
    }
    CopyIntoPlace(written, path);
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
