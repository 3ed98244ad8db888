#include "panes/ReadingsTable.h"

#include "res/ControlIds.h"
#include "session/ReadingsModel.h"

#include <QFont>
#include <QFontMetrics>
#include <QHeaderView>
#include <QTableView>
#include <algorithm>

namespace zelvox {

namespace {

constexpr int kIndexWidth = 70;
constexpr int kTimeWidth = 150;

} // namespace

ReadingsTable::ReadingsTable(ReadingsModel& model, QWidget* parent)
    : QWidget(parent), model_(&model), list_(new QTableView(this)) {
    // The list exists from the start (hidden), so rows can be added and read back before the
    // pane is first shown; InitialUpdate gives it its place, columns and font.
    list_->setObjectName(ControlName(kReadingsList));
    list_->setModel(model_);
    list_->hide();
    connect(model_, &QAbstractItemModel::rowsInserted, this, &ReadingsTable::ScrollSoon);
}

ReadingsTable::~ReadingsTable() = default;

void ReadingsTable::InitialUpdate() {
    QFont font(QStringLiteral("SimSun"));
    font.setPixelSize(15);
    font.setWeight(QFont::Normal);
    list_->setFont(font);
    list_->setGeometry(rect());

    list_->setShowGrid(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setWordWrap(false);
    list_->setCornerButtonEnabled(false);

    // Long logging runs: every row has the same fixed height and the view scrolls by pixels, so
    // appending a row and scrolling to it never measures or walks the rows already there.
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    QHeaderView* rows = list_->verticalHeader();
    rows->hide();
    rows->setMinimumSectionSize(1);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(QFontMetrics(font).height() + 4);

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

void ReadingsTable::AddReading(std::uint8_t pointPosition, std::uint8_t functionCode, double value) {
    AddReading(pointPosition, functionCode, value, LocalTimeOfDay());
}

void ReadingsTable::AddReading(std::uint8_t pointPosition, std::uint8_t functionCode, double value,
                               const TimeOfDay& at) {
    model_->Append(value, pointPosition, functionCode, at);
}

void ReadingsTable::ScrollSoon() {
    // Scroll once per pass of the event loop, before the next paint: rows added in a burst
    // (or faster than the screen repaints) then cost one scroll of the viewport, not one each.
    if (!scrollPending_) {
        scrollPending_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                scrollPending_ = false;
                list_->scrollToBottom();
            },
            Qt::QueuedConnection);
    }
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

QTableView* ReadingsTable::List() const {
    return list_;
}

const ReadingsModel& ReadingsTable::Model() const {
    return *model_;
}

} // namespace zelvox
