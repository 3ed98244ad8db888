#include "session/ReadingsModel.h"

#include "decode/Format.h"
#include "decode/Labels.h"

#include <algorithm>

namespace zelvox {

namespace {

static_assert(sizeof(ReadingsModel::Row) == 24, "a table row stays 24 bytes with its 64-bit Index");

QString FromU16(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

ReadingsModel::Row MakeRow(const Reading& reading, const WallTime& at, std::int64_t index) {
    ReadingsModel::Row r{};
    r.value = reading.value;
    r.epochMs = at.EpochMs();
    r.utcOffsetMinutes = at.utcOffset.count() / 60;
    r.functionCode = reading.functionCode < kFunctionCount ? reading.functionCode : 255u;
    r.pointPosition = std::min<std::uint8_t>(reading.pointPosition, 3);
    r.index = static_cast<std::uint64_t>(std::clamp<std::int64_t>(index, 0, ReadingsModel::kMaxIndex));
    return r;
}

} // namespace

ReadingsModel::ReadingsModel(QObject* parent) : QAbstractTableModel(parent) {}

ReadingsModel::~ReadingsModel() = default;

void ReadingsModel::Append(const DispatchedReading& dispatched) {
    const int row = count_;
    beginInsertRows(QModelIndex(), row, row);
    Put(MakeRow(dispatched.reading, dispatched.at, dispatched.index));
    endInsertRows();
}

void ReadingsModel::Put(const Row& r) {
    const int row = count_;
    if ((row >> kBlockShift) == static_cast<int>(blocks_.size()))
        blocks_.push_back(std::make_unique_for_overwrite<Row[]>(kBlockRows));
    blocks_[row >> kBlockShift][row & (kBlockRows - 1)] = r;
    largestIndex_ = std::max(largestIndex_, static_cast<std::int64_t>(r.index));
    ++count_;
}

void ReadingsModel::InsertRows(int position, const std::vector<LoadedRow>& rows) {
    if (rows.empty())
        return;
    position = std::clamp(position, 0, count_);
    // The rows behind the insertion point are few (those dispatched while a journal loads):
    // they are taken off and put back after the new ones.
    std::vector<Row> tail;
    tail.reserve(static_cast<std::size_t>(count_ - position));
    for (int r = position; r < count_; ++r)
        tail.push_back(At(r));
    beginInsertRows(QModelIndex(), position, position + static_cast<int>(rows.size()) - 1);
    count_ = position;
    for (const LoadedRow& row : rows)
        Put(MakeRow(row.reading, row.at, row.index));
    for (const Row& r : tail)
        Put(r);
    endInsertRows();
}

std::int64_t ReadingsModel::IndexAt(int row) const {
    return row >= 0 && row < count_ ? static_cast<std::int64_t>(At(row).index) : -1;
}

void ReadingsModel::Clear() {
    beginResetModel();
    blocks_.clear();
    blocks_.shrink_to_fit();
    count_ = 0;
    largestIndex_ = -1;
    reserved_ = -1;
    endResetModel();
}

QString ReadingsModel::CellText(int row, int column) const {
    if (row < 0 || row >= count_)
        return {};
    const Row& r = At(row);
    switch (column) {
    case 0:
        return QString::number(static_cast<qulonglong>(r.index));
    case 1:
        return FromU16(FormatTableValue(r.value, static_cast<std::uint8_t>(r.pointPosition)));
    case 2:
        return r.functionCode < kFunctionCount ? FromU16(functionLabels[r.functionCode]) : QString();
    case 3:
        return FromU16(FormatTime(WallTimeAt(r.epochMs, r.utcOffsetMinutes * 60)));
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
