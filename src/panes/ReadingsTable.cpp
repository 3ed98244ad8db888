#include "panes/ReadingsTable.h"

#include "panes/ReadingsList.h"
#include "res/ControlIds.h"
#include "session/ReadingsModel.h"

#include <QFont>
#include <QHeaderView>
#include <algorithm>

namespace zelvox {

namespace {

constexpr int kIndexWidth = 70;
constexpr int kTimeWidth = 150;

} // namespace

ReadingsTable::ReadingsTable(ReadingsModel& model, QWidget* parent)
    : QWidget(parent), model_(&model), list_(new ReadingsList(this)) {
    // The list exists from the start (hidden), so rows can be added and read back before the
    // pane is first shown; InitialUpdate gives it its place, columns and font.
    list_->setObjectName(ControlName(kReadingsList));
    list_->setModel(model_);
    // The newest row is always scrolled into view.
    list_->SetFollowNewRows(true);
    list_->hide();
}

ReadingsTable::~ReadingsTable() = default;

void ReadingsTable::InitialUpdate() {
    QFont font(QStringLiteral("SimSun"));
    font.setPixelSize(15);
    font.setWeight(QFont::Normal);
    list_->setFont(font);
    list_->setGeometry(rect());

    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);

    QHeaderView* columns = list_->horizontalHeader();
    columns->setHighlightSections(false);
    columns->setStretchLastSection(false);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // A pane narrower than the two fixed columns leaves nothing for Value and Type, not less.
    const int middle = std::max(0, (width() - kIndexWidth - kTimeWidth) / 2);
    const int widths[ReadingsModel::kColumns] = {kIndexWidth, middle, middle, kTimeWidth};
    for (int c = 0; c < ReadingsModel::kColumns; ++c)
        columns->resizeSection(c, widths[c]);

    list_->show();
}

void ReadingsTable::Clear() {
    model_->Clear();
}

int ReadingsTable::RowCount() const {
    return model_->Count();
}

QString ReadingsTable::CellText(int row, int column) const {
    return model_->CellText(row, column);
}

ReadingsList* ReadingsTable::List() const {
    return list_;
}

ReadingsModel& ReadingsTable::Model() const {
    return *model_;
}

} // namespace zelvox
