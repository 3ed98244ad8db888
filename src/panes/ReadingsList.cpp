#include "panes/ReadingsList.h"

#include "panes/FlatScrollBar.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <algorithm>
#include <limits>
#include <utility>

namespace zelvox {

namespace {

constexpr int kTextMargin = 3; // text starts this far inside its cell, as the style's items do

// A coordinate far outside any viewport but still safe to hold in an int.
int ClampCoordinate(long long v) {
    return static_cast<int>(std::clamp(v, -1000000000LL, 1000000000LL));
}

} // namespace

ReadingsList::ReadingsList(QWidget* parent)
    : QAbstractItemView(parent), header_(new QHeaderView(Qt::Horizontal, this)) {
    setVerticalScrollBar(new FlatScrollBar(Qt::Vertical, this));
    // The bar fills the box the scroll area keeps it in: a repaint of the bar stops there.
    if (QWidget* box = verticalScrollBar()->parentWidget(); box && box != this)
        box->setAttribute(Qt::WA_OpaquePaintEvent);
    // The columns keep their widths; what lies beyond the viewport's right edge is cut off
    // rather than offered through a second scroll bar.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(ScrollPerItem);
    // The list paints every pixel of its viewport; its frame covers the rest of the pane.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(true);
    // The headings keep the application's font; the list's own font is for the cells.
    header_->setFont(QApplication::font(header_));
    header_->setSectionsClickable(false);
    header_->setHighlightSections(false);
    connect(header_, &QHeaderView::sectionResized, viewport(), qOverload<>(&QWidget::update));
    TakeFontMetrics();
}

void ReadingsList::setModel(QAbstractItemModel* model) {
    QAbstractItemView::setModel(model);
    header_->setModel(model);
    UpdateScrollRange();
}

void ReadingsList::TakeFontMetrics() {
    const QFontMetrics metrics(font());
    rowHeight_ = std::max(1, metrics.height() + 4);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    gridColour_ = QColor::fromRgba(
        static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this)));
    UpdateScrollRange();
    viewport()->update();
}

void ReadingsList::changeEvent(QEvent* event) {
    QAbstractItemView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange ||
        event->type() == QEvent::PaletteChange)
        TakeFontMetrics();
}

int ReadingsList::RowCount() const {
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int ReadingsList::VisibleRows() const {
    return std::max(1, viewport()->height() / rowHeight_);
}

int ReadingsList::RowAt(int y) const {
    const int steps = y >= 0 ? y / rowHeight_ : -((-y + rowHeight_ - 1) / rowHeight_);
    return verticalScrollBar()->value() + steps;
}

int ReadingsList::ColumnAt(int x) const {
    return header_->logicalIndexAt(x);
}

QRect ReadingsList::RowsRect(int first, int last) const {
    const long long top = static_cast<long long>(first - verticalScrollBar()->value()) * rowHeight_;
    const long long bottom = static_cast<long long>(last - verticalScrollBar()->value() + 1) * rowHeight_;
    const int width = header_->length();
    return QRect(QPoint(0, ClampCoordinate(top)),
                 QPoint(std::max(0, width - 1), ClampCoordinate(bottom) - 1));
}

void ReadingsList::UpdateScrollRange() {
    QScrollBar* bar = verticalScrollBar();
    const int visible = VisibleRows();
    bar->setPageStep(visible);
    bar->setSingleStep(1);
    bar->setRange(0, std::max(0, RowCount() - visible));
}

QRect ReadingsList::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model() || index.parent() != rootIndex())
        return {};
    const QRect row = RowsRect(index.row(), index.row());
    return QRect(header_->sectionViewportPosition(index.column()), row.top(),
                 header_->sectionSize(index.column()), rowHeight_);
}

void ReadingsList::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid() || index.model() != model())
        return;
    QScrollBar* bar = verticalScrollBar();
    const int row = index.row();
    const int visible = VisibleRows();
    switch (hint) {
    case PositionAtTop:
        bar->setValue(row);
        break;
    case PositionAtBottom:
        bar->setValue(row - visible + 1);
        break;
    case PositionAtCenter:
        bar->setValue(row - visible / 2);
        break;
    case EnsureVisible:
        if (row < bar->value())
            bar->setValue(row);
        else if (row >= bar->value() + visible)
            bar->setValue(row - visible + 1);
        break;
    }
}

QModelIndex ReadingsList::indexAt(const QPoint& point) const {
    if (!model() || point.y() < 0)
        return {};
    const int row = RowAt(point.y());
    const int column = ColumnAt(point.x());
    if (row < 0 || row >= RowCount() || column < 0)
        return {};
    return model()->index(row, column, rootIndex());
}

QModelIndex ReadingsList::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
    const int count = RowCount();
    const int columns = model() ? model()->columnCount(rootIndex()) : 0;
    if (count == 0 || columns == 0)
        return {};
    const QModelIndex current = currentIndex();
    int row = current.isValid() ? current.row() : -1;
    int column = current.isValid() ? current.column() : 0;
    switch (action) {
    case MoveUp:
    case MovePrevious:
        row = current.isValid() ? row - 1 : 0;
        break;
    case MoveDown:
    case MoveNext:
        row = row + 1;
        break;
    case MovePageUp:
        row -= VisibleRows();
        break;
    case MovePageDown:
        row += VisibleRows();
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = count - 1;
        break;
    case MoveLeft:
        column -= 1;
        break;
    case MoveRight:
        column += 1;
        break;
    }
    row = std::clamp(row, 0, count - 1);
    column = std::clamp(column, 0, columns - 1);
    return model()->index(row, column, rootIndex());
}

int ReadingsList::horizontalOffset() const {
    return 0;
}

int ReadingsList::verticalOffset() const {
    return ClampCoordinate(static_cast<long long>(verticalScrollBar()->value()) * rowHeight_);
}

bool ReadingsList::isIndexHidden(const QModelIndex&) const {
    return false;
}

void ReadingsList::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) {
    if (!model() || !selectionModel())
        return;
    const int count = RowCount();
    const int columns = model()->columnCount(rootIndex());
    const QRect r = rect.normalized();
    const int first = std::clamp(RowAt(r.top()), 0, std::max(0, count - 1));
    const int last = std::clamp(RowAt(r.bottom()), 0, std::max(0, count - 1));
    QItemSelection selection;
    if (count > 0 && columns > 0)
        selection.select(model()->index(first, 0, rootIndex()),
                         model()->index(last, columns - 1, rootIndex()));
    selectionModel()->select(selection, flags);
}

QRegion ReadingsList::visualRegionForSelection(const QItemSelection& selection) const {
    // Only the rows on screen count; a selection of a million rows is still a few rectangles.
    const int top = verticalScrollBar()->value();
    const int bottom = top + VisibleRows();
    QRegion region;
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid() || range.parent() != rootIndex())
            continue;
        const int first = std::max(range.top(), top);
        const int last = std::min(range.bottom(), bottom);
        if (first <= last)
            region += RowsRect(first, last);
    }
    return region;
}

void ReadingsList::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    if (parent != rootIndex())
        return;
    UpdateScrollRange();
    // Settled once per pass of the event loop, before the next paint: rows added in a burst
    // cost one scroll and one paint, not one each. The scroll to the newest row moves the
    // picture up and uncovers the bottom; the new rows are then painted where they are.
    newRowsFrom_ = std::min(newRowsFrom_, start);
    if (!newRowsQueued_) {
        newRowsQueued_ = true;
        QMetaObject::invokeMethod(this, &ReadingsList::ShowNewRows, Qt::QueuedConnection);
    }
}

void ReadingsList::ShowNewRows() {
    newRowsQueued_ = false;
    const int first = std::exchange(newRowsFrom_, std::numeric_limits<int>::max());
    if (first >= RowCount())
        return;
    if (followNewRows_)
        scrollToBottom();
    const QRect rows = RowsRect(first, RowCount() - 1) & viewport()->rect();
    if (!rows.isEmpty())
        viewport()->update(rows);
}

void ReadingsList::reset() {
    QAbstractItemView::reset();
    newRowsFrom_ = std::numeric_limits<int>::max();
    UpdateScrollRange();
    viewport()->update();
}

void ReadingsList::updateGeometries() {
    const int headerHeight = header_->isHidden() ? 0 : header_->sizeHint().height();
    if (viewportMargins().top() != headerHeight)
        setViewportMargins(0, headerHeight, 0, 0);
    const QRect area = viewport()->geometry();
    header_->setGeometry(area.left(), area.top() - headerHeight, area.width(), headerHeight);
    UpdateScrollRange();
    QAbstractItemView::updateGeometries();
}

void ReadingsList::scrollContentsBy(int, int dy) {
    // The scroll bar counts rows; the picture moves by whole rows.
    if (dy == 0)
        return;
    const long long pixels = static_cast<long long>(dy) * rowHeight_;
    if (pixels >= viewport()->height() || -pixels >= viewport()->height())
        viewport()->update();
    else
        viewport()->scroll(0, static_cast<int>(pixels));
}

void ReadingsList::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect area = event->rect();
    const QPalette& colours = palette();
    painter.fillRect(area, colours.brush(QPalette::Base));
    const int count = RowCount();
    const QAbstractItemModel* items = model();
    if (count == 0 || !items)
        return;

    const int first = std::max(0, RowAt(area.top()));
    const int last = std::min(count - 1, RowAt(area.bottom()));
    const int columns = std::min(items->columnCount(rootIndex()), header_->count());
    const QItemSelectionModel* selected = selectionModel();
    const QPalette::ColorGroup group = isActiveWindow() ? QPalette::Active : QPalette::Inactive;
    const QFontMetrics metrics(font());
    const int baseline = (rowHeight_ - metrics.height()) / 2 + metrics.ascent();

    for (int row = first; row <= last; ++row) {
        const QRect line = RowsRect(row, row);
        const bool rowSelected = selected && selected->isRowSelected(row, rootIndex());
        painter.setPen(colours.color(group, rowSelected ? QPalette::HighlightedText : QPalette::Text));
        for (int column = 0; column < columns; ++column) {
            const int x = header_->sectionViewportPosition(column);
            const int width = header_->sectionSize(column);
            if (width <= 0)
                continue;
            // The cell without its grid lines (right and bottom pixel).
            const QRect cell(x, line.top(), width - 1, rowHeight_ - 1);
            if (!cell.intersects(area))
                continue;
            if (rowSelected)
                painter.fillRect(cell, colours.brush(group, QPalette::Highlight));
            const QString text = items->data(items->index(row, column, rootIndex())).toString();
            if (text.isEmpty())
                continue;
            painter.setClipRect(cell.adjusted(kTextMargin, 0, -kTextMargin, 0));
            painter.drawText(QPoint(cell.left() + kTextMargin, cell.top() + baseline), text);
            painter.setClipping(false);
        }
        // Grid: the bottom line of the row and the right line of every cell.
        painter.setPen(gridColour_);
        painter.drawLine(0, line.bottom(), header_->length() - 1, line.bottom());
        for (int column = 0; column < columns; ++column) {
            const int right = header_->sectionViewportPosition(column) + header_->sectionSize(column) - 1;
            painter.drawLine(right, line.top(), right, line.bottom());
        }
    }
}

} // namespace zelvox
