#include "session/ReadingsModel.h"

#include "decode/Labels.h"

#include <algorithm>

namespace zelvox {

namespace {

std::uint32_t MillisecondOfDay(const TimeOfDay& t) {
    const auto field = [](int v, int top) { return static_cast<std::uint32_t>(std::clamp(v, 0, top)); };
    return ((field(t.hour, 23) * 60 + field(t.minute, 59)) * 60 + field(t.second, 59)) * 1000 +
           field(t.millisecond, 999);
}

TimeOfDay TimeFromMilliseconds(std::uint32_t ms) {
    TimeOfDay t;
    t.millisecond = static_cast<int>(ms % 1000);
    ms /= 1000;
    t.second = static_cast<int>(ms % 60);
    ms /= 60;
    t.minute = static_cast<int>(ms % 60);
    t.hour = static_cast<int>(ms / 60);
    return t;
}

QString FromU16(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

ReadingsModel::Row MakeRow(double value, std::uint8_t pointPosition, std::uint8_t functionCode,
                           const TimeOfDay& at, int index) {
    ReadingsModel::Row r{};
    r.value = value;
    r.millisecondOfDay = MillisecondOfDay(at);
    r.functionCode = functionCode < kFunctionCount ? functionCode : 31u;
    r.pointPosition = std::min<std::uint8_t>(pointPosition, 3);
    r.index = static_cast<std::uint32_t>(std::clamp(index, 0, ReadingsModel::kMaxIndex));
    return r;
}

} // namespace

ReadingsModel::ReadingsModel(QObject* parent) : QAbstractTableModel(parent) {}

ReadingsModel::~ReadingsModel() = default;

void ReadingsModel::Append(double value, std::uint8_t pointPosition, std::uint8_t functionCode,
                           const TimeOfDay& at) {
    const int row = count_;
    beginInsertRows(QModelIndex(), row, row);
    Put(MakeRow(value, pointPosition, functionCode, at, std::min(NextIndex(), kMaxIndex)));
    endInsertRows();
}

void ReadingsModel::Put(const Row& r) {
    const int row = count_;
    if ((row >> kBlockShift) == static_cast<int>(blocks_.size()))
        blocks_.push_back(std::make_unique_for_overwrite<Row[]>(kBlockRows));
    blocks_[row >> kBlockShift][row & (kBlockRows - 1)] = r;
    largestIndex_ = std::max(largestIndex_, static_cast<int>(r.index));
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
        Put(MakeRow(row.reading.value, row.reading.pointPosition, row.reading.functionCode, row.time,
                    row.index));
    for (const Row& r : tail)
        Put(r);
    endInsertRows();
}

int ReadingsModel::IndexAt(int row) const {
    return row >= 0 && row < count_ ? static_cast<int>(At(row).index) : -1;
}

void ReadingsModel::Clear() {
    beginResetModel();
    blocks_.clear();
    blocks_.shrink_to_fit();
    count_ = 0;
    largestIndex_ = -1;
    endResetModel();
}

QString ReadingsModel::CellText(int row, int column) const {
    if (row < 0 || row >= count_)
        return {};
    const Row& r = At(row);
    switch (column) {
    case 0:
        return QString::number(r.index);
    case 1:
        return FromU16(FormatTableValue(r.value, static_cast<std::uint8_t>(r.pointPosition)));
    case 2:
        return r.functionCode < kFunctionCount ? FromU16(functionLabels[r.functionCode]) : QString();
    case 3:
        return FromU16(FormatTime(TimeFromMilliseconds(r.millisecondOfDay)));
    default:
        return {};
    }
}

std::size_t ReadingsModel::StorageBytes() const {
    return blocks_.capacity() * sizeof(blocks_[0]) + blocks_.size() * kBlockRows * sizeof(Row);
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
