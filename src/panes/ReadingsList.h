// The list of the readings table: a report-style view over the readings model whose rows all
// have one fixed height. Row positions are arithmetic (row x height), so appending a row,
// scrolling to it and painting it cost the same at ten rows and at millions: nothing on that
// path walks the rows already there. Scrolls by whole rows, like a report list.
#pragma once

#include <QAbstractItemView>
#include <QColor>
#include <limits>

class QHeaderView;

namespace zelvox {

class ReadingsList : public QAbstractItemView {
    Q_OBJECT
public:
    explicit ReadingsList(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;
    QHeaderView* horizontalHeader() const { return header_; }
    // Fixed height of every row, from the font (text height + 4).
    int RowHeight() const { return rowHeight_; }
    // Rows that fit whole in the viewport (at least 1).
    int VisibleRows() const;
    // When on, the list scrolls to its end after rows are appended (once per event loop pass).
    void SetFollowNewRows(bool on) { followNewRows_ = on; }

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;

    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void reset() override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int RowCount() const;
    int RowAt(int y) const; // may be outside the table
    int ColumnAt(int x) const;
    QRect RowsRect(int first, int last) const; // viewport rectangle of rows first..last
    void UpdateScrollRange();
    void ShowNewRows();
    void TakeFontMetrics();

    QHeaderView* header_;
    int rowHeight_ = 19;
    QColor gridColour_;
    int newRowsFrom_ = std::numeric_limits<int>::max(); // first row appended since the last queued paint
    bool newRowsQueued_ = false;
    bool followNewRows_ = false;
};

} // namespace zelvox
