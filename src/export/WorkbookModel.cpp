#include "export/WorkbookModel.h"

#include "export/CellInput.h"

#include <algorithm>
#include <limits>

namespace zelvox::sheet {

bool ParseCellReference(const QString& text, int* row, int* column) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    if (i < n && text.at(i) == u'$')
        ++i;
    long long col = 0;
    const qsizetype lettersStart = i;
    while (i < n && text.at(i).isLetter() && text.at(i).unicode() < 0x80) {
        col = col * 26 + (text.at(i).toUpper().unicode() - u'A' + 1);
        if (col > kMaxColumns)
            return false;
        ++i;
    }
    if (i == lettersStart)
        return false;
    if (i < n && text.at(i) == u'$')
        ++i;
    long long r = 0;
    const qsizetype digitsStart = i;
    while (i < n && text.at(i) >= u'0' && text.at(i) <= u'9') {
        r = r * 10 + (text.at(i).unicode() - u'0');
        if (r > kMaxRows)
            return false;
        ++i;
    }
    if (i == digitsStart || i != n || r < 1)
        return false;
    *row = int(r);
    *column = int(col);
    return true;
}

QString ColumnName(int column) {
    QString name;
    while (column > 0) {
        const int digit = (column - 1) % 26;
        name.prepend(QChar(u'A' + digit));
        column = (column - 1) / 26;
    }
    return name;
}

int Worksheet::FormatAt(int row, int column) const {
    for (auto it = formatRanges_.rbegin(); it != formatRanges_.rend(); ++it)
        if (it->range.Contains(row, column))
            return it->format;
    return defaultFormat_;
}

void Worksheet::SetFormat(const CellRange& range, int format) {
    if (range.IsWholeSheet()) {
        defaultFormat_ = format;
        formatRanges_.clear();
        return;
    }
    // A range that the new one covers completely can no longer show anywhere.
    std::erase_if(formatRanges_, [&](const FormatRange& older) { return range.Contains(older.range); });
    formatRanges_.push_back({range, format});
}

void Worksheet::Enter(int row, int column, const QString& text, const QString& formatCode) {
    std::map<int, CellRun>& runs = columns_[column];
    CellRun* run = nullptr;
    // The run starting last at or before `row` holds it, or ends right above it and grows by one.
    // A run never grows into the next one: that would start at or before `row`.
    const auto next = runs.upper_bound(row);
    if (next != runs.begin()) {
        CellRun& before = std::prev(next)->second;
        if (row <= before.LastRow() + 1)
            run = &before;
    }
    if (!run) {
        run = &runs[row];
        run->firstRow = row;
    }
    const std::size_t at = std::size_t(row - run->firstRow);
    if (at == run->kinds.size()) {
        run->kinds.push_back(Cell::Kind::Blank);
        run->values.push_back(CellRun::Value{0.0});
    }
    Cell::Kind& kind = run->kinds[at];
    CellRun::Value& value = run->values[at];
    if (text.isEmpty()) {
        kind = Cell::Kind::Blank; // an empty entry clears the value, the format stays
        value.number = 0.0;
        return;
    }
    if (!IsTextFormat(formatCode)) {
        if (const auto number = ReadTypedNumber(text)) {
            kind = Cell::Kind::Number;
            value.number = *number;
            return;
        }
    }
    kind = Cell::Kind::Text;
    value.text = {std::uint32_t(texts_.size()), std::uint32_t(text.size())};
    texts_.insert(texts_.end(), text.utf16(), text.utf16() + text.size());
}

bool Worksheet::CanTakeText(qsizetype length) const {
    return std::uint64_t(texts_.size()) + std::uint64_t(length) <= std::numeric_limits<std::uint32_t>::max();
}

std::optional<Cell> Worksheet::At(int row, int column) const {
    const int format = FormatAt(row, column);
    if (const auto runs = columns_.find(column); runs != columns_.end()) {
        const auto next = runs->second.upper_bound(row);
        if (next != runs->second.begin()) {
            const CellRun& run = std::prev(next)->second;
            if (row <= run.LastRow()) {
                const std::size_t at = std::size_t(row - run.firstRow);
                Cell cell;
                cell.kind = run.kinds[at];
                cell.format = format;
                if (cell.kind == Cell::Kind::Number)
                    cell.number = run.values[at].number;
                else if (cell.kind == Cell::Kind::Text)
                    cell.text = TextOf(run.values[at].text).toString();
                return cell;
            }
        }
    }
    for (const FormatRange& formatted : formatRanges_)
        if (formatted.range.Contains(row, column))
            return Cell{Cell::Kind::Blank, format, 0.0, QString()};
    return std::nullopt;
}

qsizetype Worksheet::EnteredCount() const {
    qsizetype count = 0;
    for (const auto& [column, runs] : columns_)
        for (const auto& [first, run] : runs)
            count += qsizetype(run.kinds.size());
    return count;
}

int Worksheet::LastRow() const {
    int last = 0;
    for (const auto& [column, runs] : columns_)
        if (!runs.empty())
            last = std::max(last, runs.rbegin()->second.LastRow());
    for (const FormatRange& formatted : formatRanges_)
        last = std::max(last, formatted.range.lastRow);
    return last;
}

Workbook::Workbook() {
    sheets_.push_back(std::make_unique<Worksheet>(QStringLiteral("Sheet1")));
}

const Worksheet* Workbook::FindSheet(const QString& name) const {
    for (const auto& sheet : sheets_)
        if (sheet->Name().compare(name, Qt::CaseInsensitive) == 0)
            return sheet.get();
    return nullptr;
}

Worksheet& Workbook::AddSheetBeforeActive() {
    QString name;
    do {
        name = QStringLiteral("Sheet%1").arg(nextSheetNumber_++);
    } while (FindSheet(name));
    auto sheet = std::make_unique<Worksheet>(name);
    Worksheet& added = *sheet;
    sheets_.insert(sheets_.begin() + active_, std::move(sheet));
    // The new sheet sits where the active one was and becomes the active sheet.
    return added;
}

int Workbook::FormatIndex(const QString& code) {
    if (code.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0)
        return kGeneral;
    for (int i = 0; i < int(formats_.size()); ++i)
        if (formats_[i] == code)
            return i;
    formats_.push_back(code);
    return int(formats_.size()) - 1;
}

QString Workbook::FormatCode(int index) const {
    return index == kGeneral ? QStringLiteral("General") : formats_.at(index);
}

} // namespace zelvox::sheet
