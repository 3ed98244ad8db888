// The rows of the readings table, kept compact (24 bytes a row) and turned into texts only
// when a cell is shown or read back. Each row keeps its Index (64 bits, up to the largest a
// journal row may carry): a dispatched reading takes the one after the largest in the table, a
// row read back from a journal the one it had there.
#pragma once

#include "decode/Reading.h"
#include "decode/WallClock.h"
#include "record/RowCodec.h"

#include <QAbstractTableModel>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace zelvox {

class ReadingsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumns = 4;

    // The largest Index a row can keep.
    static constexpr std::int64_t kMaxIndex = kMaxRowIndex;

    struct Row {
        double value;
        std::int64_t epochMs : 48;          // the moment of the reading (8900 years around 1970)
        std::int64_t utcOffsetMinutes : 16; // the local zone's offset then
        std::uint64_t index : 53;
        std::uint64_t pointPosition : 2;
        std::uint64_t functionCode : 8; // 255 for any code without a label
    };

    // A row read back from a journal, with the Index it had there.
    using LoadedRow = JournalRow;

    explicit ReadingsModel(QObject* parent = nullptr);
    ~ReadingsModel() override;

    // The session's dispatched reading: its row at the end, with its Index (one row-insertion
    // notification).
    void Append(const DispatchedReading& dispatched);
    // Puts rows in at `position` (0 .. Count()); the rows from there on move down behind them.
    // One row-insertion notification for all.
    void InsertRows(int position, const std::vector<LoadedRow>& rows);
    // Drops every row (one model reset).
    void Clear();

    int Count() const { return count_; }
    // The Index shown in the row; -1 outside the table.
    std::int64_t IndexAt(int row) const;
    // The Index the next dispatched reading takes: one past the largest in the table, or past
    // `reserved` while rows up to it are still to come (a journal being loaded).
    std::int64_t NextIndex() const { return std::max(largestIndex_, reserved_) + 1; }
    // Indices up to `largest` are taken by rows that are still to come; none is handed out.
    void ReserveIndices(std::int64_t largest) { reserved_ = largest; }
    // The table holds the largest Index a row can keep: no reading can be added after it.
    bool Full() const { return NextIndex() > kMaxIndex; }
    // The text of one cell; empty outside the table.
    QString CellText(int row, int column) const;

    static QString ColumnHeading(int column);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    // Rows live in fixed blocks, so growing never copies the rows already stored.
    static constexpr int kBlockShift = 12;
    static constexpr int kBlockRows = 1 << kBlockShift;

    const Row& At(int row) const { return blocks_[row >> kBlockShift][row & (kBlockRows - 1)]; }
    // Stores r as the row after the last; no notification.
    void Put(const Row& r);

    std::vector<std::unique_ptr<Row[]>> blocks_;
    int count_ = 0;
    std::int64_t largestIndex_ = -1;
    std::int64_t reserved_ = -1;
};

} // namespace zelvox
