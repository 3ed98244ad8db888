#include "session/ReadingsModel.h"

#include "decode/Format.h"
#include "decode/Labels.h"
#include "record/ReadingRecord.h"

#include <algorithm>

namespace zelvox {

namespace {

QString FromU16(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

} // namespace

ReadingsModel::ReadingsModel(QObject* parent) : QAbstractTableModel(parent) {}

ReadingsModel::~ReadingsModel() = default;

void ReadingsModel::Append(const DispatchedReading& dispatched) {
    Append(dispatched.reading, dispatched.at);
}

void ReadingsModel::Append(const Reading& r, const WallTime& at) {
    const int row = count_;
    if ((row >> kBlockShift) == static_cast<int>(blocks_.size()))
        blocks_.push_back(std::make_unique_for_overwrite<Row[]>(kBlockRows));
    beginInsertRows(QModelIndex(), row, row);
    blocks_[row >> kBlockShift][row & (kBlockRows - 1)] =
        Row{r.value, at.EpochMs(), static_cast<std::int32_t>(at.utcOffset.count()), r.pointPosition,
            r.functionCode};
    ++count_;
    endInsertRows();
}

void ReadingsModel::Clear() {
    beginResetModel();
    blocks_.clear();
    blocks_.shrink_to_fit();
    count_ = 0;
    endResetModel();
}

QString ReadingsModel::CellText(int row, int column) const {
    if (row < 0 || row >= count_)
        return {};
    const Row& r = At(row);
    switch (column) {
    case 0:
        return QString::number(row);
    case 1:
        return FromU16(FormatTableValue(r.value, r.pointPosition));
    case 2:
        return r.functionCode < kFunctionCount ? FromU16(functionLabels[r.functionCode]) : QString();
    case 3:
        return FromU16(FormatTime(WallTimeAt(r.epochMs, r.utcOffsetSeconds)));
    default:
        return {};
    }
}

QString ReadingsModel::ColumnHeading(int column) {
    static const char* const headings[kColumns] = {"Index", "Value", "Type", "Time"};
    return column >= 0 && column < kColumns ? QString::fromLatin1(headings[column]) : QString();
}

int ReadingsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count_;
}

int ReadingsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant ReadingsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole)
        return CellText(index.row(), index.column());
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

QVariant ReadingsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return ColumnHeading(section);
    if (orientation == Qt::Horizontal && role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

} // namespace zelvox
