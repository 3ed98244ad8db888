// The readings table pane: one row per dispatched reading (Index, Value, Type, Time).
#pragma once

#include "decode/Format.h"

#include <QString>
#include <QWidget>
#include <cstdint>

namespace zelvox {

class PaneLinks;
class ReadingsList;
class ReadingsModel;

class ReadingsTable : public QWidget {
    Q_OBJECT
public:
    explicit ReadingsTable(PaneLinks* links, QWidget* parent = nullptr);
    ~ReadingsTable() override;

    // First showing: creates the list over the whole client area (its width fixes the columns).
    void InitialUpdate();

    // Appends one row; the row takes the local time now (or `at`, for tests and tools).
    void AddReading(std::uint8_t pointPosition, std::uint8_t functionCode, double value);
    void AddReading(std::uint8_t pointPosition, std::uint8_t functionCode, double value, const TimeOfDay& at);

    void Clear();
    int RowCount() const;
    QString CellText(int row, int column) const;

    ReadingsList* List() const;
    // The compact row store behind the list (for memory figures).
    const ReadingsModel& Model() const;

private:
    PaneLinks* links_;
    ReadingsModel* model_ = nullptr;
    ReadingsList* list_ = nullptr;
};

} // namespace zelvox
