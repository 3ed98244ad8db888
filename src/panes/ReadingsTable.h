// The readings table pane: a list over the session's readings model, one row per dispatched
// reading (Index, Value, Type, Time), kept scrolled to the newest row.
#pragma once

#include "decode/Format.h"

#include <QString>
#include <QWidget>
#include <cstdint>

namespace zelvox {

class ReadingsList;
class ReadingsModel;

class ReadingsTable : public QWidget {
    Q_OBJECT
public:
    explicit ReadingsTable(ReadingsModel& model, QWidget* parent = nullptr);
    ~ReadingsTable() override;

    // First showing: creates the list over the whole client area (its width fixes the columns).
    void InitialUpdate();

    void Clear();
    int RowCount() const;
    QString CellText(int row, int column) const;

    ReadingsList* List() const;
    // The session's rows the list shows.
    ReadingsModel& Model() const;

private:
    ReadingsModel* model_;
    ReadingsList* list_ = nullptr;
};

} // namespace zelvox
