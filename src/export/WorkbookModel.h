// The workbook the spreadsheet layer builds while an export runs: sheets in tab order, cells with
// their values, number formats by range, column widths. Everything is written out in one go at
// save, row by row.
//
// A worksheet keeps what was entered column by column in runs of consecutive rows, a few bytes a
// cell: the export enters a table of up to a million rows one column after the other, and a node
// and a string per cell would take gigabytes. Number formats are kept as the ranges they were set
// on (later ranges win), not copied into every cell.
#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace zelvox::sheet {

constexpr int kMaxRows = 1048576;
constexpr int kMaxColumns = 16384;
constexpr int kGeneral = -1; // format index of a cell without a number format

// A rectangle of cells, 1-based and inclusive.
struct CellRange {
    int firstRow = 1, firstColumn = 1, lastRow = kMaxRows, lastColumn = kMaxColumns;

    int Rows() const { return lastRow - firstRow + 1; }
    int Columns() const { return lastColumn - firstColumn + 1; }
    bool IsWholeSheet() const {
        return firstRow == 1 && firstColumn == 1 && lastRow == kMaxRows && lastColumn == kMaxColumns;
    }
    bool Contains(int row, int column) const {
        return row >= firstRow && row <= lastRow && column >= firstColumn && column <= lastColumn;
    }
    bool Contains(const CellRange& other) const {
        return Contains(other.firstRow, other.firstColumn) && Contains(other.lastRow, other.lastColumn);
    }
    friend bool operator==(const CellRange&, const CellRange&) = default;
};

// "B12" -> row 12, column 2 (letters case-insensitive, optional '$' before either part).
// False for anything that is not one cell inside the sheet.
bool ParseCellReference(const QString& text, int* row, int* column);
// 1 -> "A", 27 -> "AA".
QString ColumnName(int column);

// One cell as read back: what it holds and the number format it shows it under.
struct Cell {
    enum class Kind : std::uint8_t { Blank, Text, Number };
    Kind kind = Kind::Blank;
    int format = kGeneral;
    double number = 0.0;
    QString text;
};

// Cells entered into one column at consecutive rows, from firstRow on.
struct CellRun {
    struct Text {
        std::uint32_t offset; // into the sheet's text store
        std::uint32_t length;
    };
    union Value {
        double number;
        Text text;
    };
    int firstRow = 1;
    std::vector<Cell::Kind> kinds;
    std::vector<Value> values;

    int LastRow() const { return firstRow + int(kinds.size()) - 1; }
};

struct FormatRange {
    CellRange range;
    int format;
};

class Worksheet {
public:
    explicit Worksheet(QString name) : name_(std::move(name)) {}

    const QString& Name() const { return name_; }
    void Rename(QString name) { name_ = std::move(name); }

    // Format of the whole sheet (what a cell outside every formatted range shows).
    int DefaultFormat() const { return defaultFormat_; }
    int FormatAt(int row, int column) const;
    // Formatting the whole sheet reformats every cell; a smaller range gives each of its cells
    // the format (cells of the range that hold nothing are written as formatted blanks).
    void SetFormat(const CellRange& range, int format);

    // Enters a value as typed text, interpreted under the cell's format at that moment.
    void Enter(int row, int column, const QString& text, const QString& formatCode);
    // False when the sheet's text store has no room left for a text of that length.
    bool CanTakeText(qsizetype length) const;

    // The cell, if anything was entered there or it lies in a formatted range.
    std::optional<Cell> At(int row, int column) const;
    // How many cells were entered (an emptied cell still counts).
    qsizetype EnteredCount() const;
    // The last row holding an entered cell or a formatted range; 0 for an empty sheet.
    int LastRow() const;

    // Entered cells: for each column in ascending order, its runs by first row.
    const std::map<int, std::map<int, CellRun>>& Columns() const { return columns_; }
    QStringView TextOf(const CellRun::Text& text) const {
        return QStringView(texts_.data() + text.offset, qsizetype(text.length));
    }
    // Formatted ranges in the order they were set (a later one wins where they overlap).
    const std::vector<FormatRange>& FormatRanges() const { return formatRanges_; }

    // Widths in character units of the columns that were fitted (others keep the default).
    const std::map<int, double>& ColumnWidths() const { return widths_; }
    void SetColumnWidth(int column, double width) { widths_[column] = width; }

private:
    QString name_;
    int defaultFormat_ = kGeneral;
    std::map<int, std::map<int, CellRun>> columns_;
    std::vector<char16_t> texts_;
    std::vector<FormatRange> formatRanges_;
    std::map<int, double> widths_;
};

class Workbook {
public:
    // A new workbook has one sheet, "Sheet1", which is active.
    Workbook();

    int SheetCount() const { return int(sheets_.size()); }
    Worksheet& Sheet(int index) { return *sheets_.at(index); }
    const Worksheet& Sheet(int index) const { return *sheets_.at(index); }
    int ActiveSheet() const { return active_; }
    const Worksheet* FindSheet(const QString& name) const;

    // Inserts a new sheet before the active one and makes it active (a default name "SheetN"
    // is given; the caller renames it).
    Worksheet& AddSheetBeforeActive();

    // Interns a number format code; kGeneral for "General".
    int FormatIndex(const QString& code);
    QString FormatCode(int index) const;
    int FormatCount() const { return int(formats_.size()); }

private:
    std::vector<std::unique_ptr<Worksheet>> sheets_;
    int active_ = 0;
    int nextSheetNumber_ = 2;
    std::vector<QString> formats_;
};

} // namespace zelvox::sheet
