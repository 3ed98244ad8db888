// The workbook the spreadsheet layer builds while an export runs: sheets in tab order, cells with
// their values and number formats, column widths. Everything is written out in one go at save.
#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <memory>
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
    friend bool operator==(const CellRange&, const CellRange&) = default;
};

// "B12" -> row 12, column 2 (letters case-insensitive, optional '$' before either part).
// False for anything that is not one cell inside the sheet.
bool ParseCellReference(const QString& text, int* row, int* column);
// 1 -> "A", 27 -> "AA".
QString ColumnName(int column);

struct Cell {
    enum class Kind : std::uint8_t { Blank, Text, Number };
    Kind kind = Kind::Blank;
    int format = kGeneral;
    double number = 0.0;
    QString text;
};

class Worksheet {
public:
    explicit Worksheet(QString name) : name_(std::move(name)) {}

    const QString& Name() const { return name_; }
    void Rename(QString name) { name_ = std::move(name); }

    // Format of the whole sheet (what a cell that was never formatted on its own shows).
    int DefaultFormat() const { return defaultFormat_; }
    int FormatAt(int row, int column) const;
    // Formatting the whole sheet reformats every existing cell too; a smaller range gives each
    // of its cells the format, creating blank cells where there were none.
    void SetFormat(const CellRange& range, int format);

    // Enters a value as typed text, interpreted under the cell's format at that moment.
    void Enter(int row, int column, const QString& text, const QString& formatCode);

    const Cell* At(int row, int column) const;
    // Cells in row-major order; the key is Key(row, column).
    const std::map<std::uint64_t, Cell>& Cells() const { return cells_; }
    static std::uint64_t Key(int row, int column) {
        return (std::uint64_t(row) << 16) | std::uint64_t(column);
    }
    static int RowOf(std::uint64_t key) { return int(key >> 16); }
    static int ColumnOf(std::uint64_t key) { return int(key & 0xFFFF); }

    // Widths in character units of the columns that were fitted (others keep the default).
    const std::map<int, double>& ColumnWidths() const { return widths_; }
    void SetColumnWidth(int column, double width) { widths_[column] = width; }

private:
    QString name_;
    int defaultFormat_ = kGeneral;
    std::map<std::uint64_t, Cell> cells_;
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
