// The rows of the readings table, kept compact (24 bytes a row) and turned into texts only
// when a cell is shown or read back.
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

    struct Row {
        double value;
        std::int64_t epochMs;          // the moment the row was added
        std::int32_t utcOffsetSeconds; // the local zone's offset then
        std::uint8_t pointPosition;
        std::uint8_t functionCode;
    };

    explicit ReadingsModel(QObject* parent = nullptr);
    ~ReadingsModel() override;

    // Appends one row at the end (one row-insertion notification): the reading r, added at `at`.
    void Append(const Reading& r, const WallTime& at);
    // The session's dispatched reading: its row.
    void Append(const DispatchedReading& dispatched);
    // Drops every row (one model reset).
    void Clear();

    int Count() const { return count_; }
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

    std::vector<std::unique_ptr<Row[]>> blocks_;
    int count_ = 0;
};

} // namespace zelvox
