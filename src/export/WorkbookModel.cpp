#include "export/WorkbookModel.h"

#include "export/CellInput.h"

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
    const auto it = cells_.find(Key(row, column));
    return it == cells_.end() ? defaultFormat_ : it->second.format;
}

void Worksheet::SetFormat(const CellRange& range, int format) {
    if (range.IsWholeSheet()) {
        defaultFormat_ = format;
        for (auto& [key, cell] : cells_)
            cell.format = format;
        return;
    }
    for (int row = range.firstRow; row <= range.lastRow; ++row)
        for (int column = range.firstColumn; column <= range.lastColumn; ++column) {
            auto [it, inserted] = cells_.try_emplace(Key(row, column));
            it->second.format = format;
        }
}

void Worksheet::Enter(int row, int column, const QString& text, const QString& formatCode) {
    auto [it, inserted] = cells_.try_emplace(Key(row, column));
    Cell& cell = it->second;
    if (inserted)
        cell.format = defaultFormat_;
    cell.text.clear();
    cell.number = 0.0;
    if (text.isEmpty()) {
        cell.kind = Cell::Kind::Blank; // an empty entry clears the value, the format stays
        return;
    }
    if (!IsTextFormat(formatCode)) {
        if (const auto number = ReadTypedNumber(text)) {
            cell.kind = Cell::Kind::Number;
            cell.number = *number;
            return;
        }
    }
    cell.kind = Cell::Kind::Text;
    cell.text = text;
}

const Cell* Worksheet::At(int row, int column) const {
    const auto it = cells_.find(Key(row, column));
    return it == cells_.end() ? nullptr : &it->second;
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
