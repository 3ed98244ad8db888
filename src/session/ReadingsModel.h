// The rows of the readings table, kept compact (16 bytes a row) and turned into texts only
// when a cell is shown or read back.
#pragma once

#include "decode/Format.h"

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace zelvox {

class ReadingsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumns = 4;

    struct Row {
        double value;
        std::uint32_t millisecondOfDay; // 0 .. 86 399 999
        std::uint8_t pointPosition;
        std::uint8_t functionCode;
    };

    explicit ReadingsModel(QObject* parent = nullptr);
    ~ReadingsModel() override;

    // Appends one row at the end (one row-insertion notification).
    void Append(double value, std::uint8_t pointPosition, std::uint8_t functionCode, const TimeOfDay& at);
    // Drops every row (one model reset).
    void Clear();

    int Count() const { return count_; }
    // The text of one cell; empty outside the table.
    QString CellText(int row, int column) const;
    // Bytes held by the row storage, for the benchmark.
    std::size_t StorageBytes() const;

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
