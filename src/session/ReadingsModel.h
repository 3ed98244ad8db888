// The rows of the readings table, kept compact (24 bytes a row) and turned into texts only
// when a cell is shown or read back. Each row keeps its Index: a dispatched reading takes the
// one after the largest in the table, a row read back from a journal the one it had there.
#pragma once

#include "decode/Reading.h"
#include "decode/WallClock.h"

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace zelvox {

struct DispatchedReading;

class ReadingsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumns = 4;

    // The largest Index a row can keep.
    static constexpr int kMaxIndex = (1 << 30) - 1;

    struct Row {
        double value;
        std::int64_t epochMs; // the moment of the reading
        std::uint32_t index : 30;
        std::uint32_t pointPosition : 2;
        std::int16_t utcOffsetMinutes; // the local zone's offset then
        std::uint8_t functionCode;     // 255 for any code without a label
    };

    // A row read back from a journal, with the Index it had there.
    struct LoadedRow {
        Reading reading;
        WallTime at;
        int index = 0;
    };

    explicit ReadingsModel(QObject* parent = nullptr);
    ~ReadingsModel() override;

    // Appends one row at the end (one row-insertion notification): the reading r of `at`, with
    // the next Index.
    void Append(const Reading& r, const WallTime& at);
    // The session's dispatched reading: its row, with its Index.
    void Append(const DispatchedReading& dispatched);
    // Puts rows in at `position` (0 .. Count()); the rows from there on move down behind them.
    // One row-insertion notification for all.
    void InsertRows(int position, const std::vector<LoadedRow>& rows);
    // Drops every row (one model reset).
    void Clear();

    int Count() const { return count_; }
    // The Index shown in the row; -1 outside the table.
    int IndexAt(int row) const;
    // The Index the next dispatched reading takes: one past the largest in the table.
    int NextIndex() const { return largestIndex_ + 1; }
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
    int largestIndex_ = -1;
};

} // namespace zelvox
